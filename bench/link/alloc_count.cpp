#include "alloc_count.h"

#include <cerrno>
#include <cstddef>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *pointer);
}

namespace {

// Plain thread-locals of the executable live in static TLS: reading them
// never allocates, so the hooks may use them.
thread_local bool t_isUi = false;
thread_local bool t_inLink = false;
std::atomic<bool> g_open{false};
std::atomic<uint64_t> g_ui{0};
std::atomic<uint64_t> g_listener{0};

inline void Count() {
    if (!g_open.load(std::memory_order_relaxed)) return;
    if (!t_isUi)
        g_listener.fetch_add(1, std::memory_order_relaxed);
    else if (t_inLink)
        g_ui.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

namespace alloc_count {

void MarkUiThread() {
    t_isUi = true;
}
void SetInLink(bool inLink) {
    t_inLink = inLink;
}
bool InLink() {
    return t_inLink;
}
void Open() {
    g_open.store(true);
}
void Close() {
    g_open.store(false);
}
uint64_t UiCount() {
    return g_ui.load();
}
uint64_t ListenerCount() {
    return g_listener.load();
}
void Reset() {
    g_ui.store(0);
    g_listener.store(0);
}

}  // namespace alloc_count

extern "C" {

void *malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}

void *realloc(void *pointer, size_t size) {
    Count();
    return __libc_realloc(pointer, size);
}

void free(void *pointer) {
    __libc_free(pointer);
}

void *memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size) {
    Count();
    void *p = __libc_memalign(alignment, size);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

}  // extern "C"
