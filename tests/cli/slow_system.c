/* What a slow system may do to a program, made certain for the tests:
 * opencom is held up before it opens (as a scheduler may pause the thread
 * there), and a name lookup never answers. Preloaded into loopctl. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netdb.h>
#include <stdint.h>
#include <unistd.h>

int32_t opencom(int32_t port) {
    int32_t (*real)(int32_t) = (int32_t (*)(int32_t))dlsym(RTLD_NEXT, "opencom");
    usleep(50000);
    return real ? real(port) : 999;
}

int getaddrinfo(const char *node, const char *service, const struct addrinfo *hints,
                struct addrinfo **res) {
    (void)node, (void)service, (void)hints, (void)res;
    sleep(60);
    return EAI_AGAIN;
}
