// loopctl's work, with its arguments in UTF-8; each system's main() brings
// them in that form.
#pragma once

int LoopctlMain(int argc, char **argv);
