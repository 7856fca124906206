/* Calls the installed library the way a new user would first try it: the
 * argument checks answer without any device, so the codes tell that the
 * header and the library agree. */
#include <portlink.h>
#include <stdio.h>

int main(void) {
    int failures = 0;
    /* Port numbers start at 1. */
    if (opencom(0) != 4) {
        fprintf(stderr, "opencom(0) should answer 4\n");
        failures++;
    }
    /* No window given yet. */
    if (opencom(1) != 16) {
        fprintf(stderr, "opencom(1) without initcom should answer 16\n");
        failures++;
    }
    if (destroycom() != 1) {
        fprintf(stderr, "destroycom should answer 1\n");
        failures++;
    }
    if (failures == 0) puts("portlink answers as documented");
    return failures == 0 ? 0 : 1;
}
