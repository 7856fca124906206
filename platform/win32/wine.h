// Whether the program runs under Wine, where a few of the system's answers
// differ from Windows' own and the Unix side shows through.
#pragma once

bool UnderWine();
