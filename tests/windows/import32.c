/* A 32-bit C host of portlink.dll that calls checkbfr, for the check of the
 * name it imports (the program is only built: it cannot run here). */
#include "portlink.h"

int main(void) {
    initcom(NULL);
    return checkbfr(1, 0, 0);
}
