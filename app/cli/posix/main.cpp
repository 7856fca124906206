#include "loopctl_main.h"

int main(int argc, char **argv) {
    return LoopctlMain(argc, argv);
}
