// A host that unloads the library with a port still open: the listener must be
// stopped and joined before the library's code goes away.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <thread>

#include "helpers.h"

namespace portlink::test {

TEST(Unload, OpenPortIsClosedWhenTheLibraryUnloads) {
    Pty pty(4);
    ASSERT_TRUE(pty.Ok());
    Recorder recorder;
    PortlinkWindow window = recorder.Window();
    void *lib = dlopen(PORTLINK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto init = reinterpret_cast<decltype(&initcom)>(dlsym(lib, "initcom"));
    auto open = reinterpret_cast<decltype(&opencom)>(dlsym(lib, "opencom"));
    ASSERT_TRUE(init && open);
    init(&window);
    ASSERT_EQ(open(4), 0);
    pty.Send({1});
    ASSERT_TRUE(recorder.WaitFor(1));
    const int threads = Threads();  // a sanitizer may have added one of its own
    ASSERT_EQ(dlclose(lib), 0);
    EXPECT_EQ(Threads(), threads - 1) << "the listener was joined at unload";
    pty.Send({1});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(recorder.Count(), 1u);
}

}  // namespace portlink::test
