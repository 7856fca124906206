// A second process, and a C host, for the exclusive-open test: opens COM<n>
// through the library and exits with opencom's answer.
#include <stdlib.h>

#include "portlink.h"

static void post(void *context, uint32_t message, uint32_t wparam, int32_t lparam) {
    (void)context, (void)message, (void)wparam, (void)lparam;
}

int main(int argc, char **argv) {
    PortlinkWindow window = {post, NULL};
    initcom(&window);
    const int32_t result = opencom(argc > 1 ? (int32_t)atoi(argv[1]) : 1);
    destroycom();
    return (int)result;
}
