// A host that unloads the library with a port still open: the listener must be
// stopped and joined before the library's code goes away.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <thread>

#include "portlink.h"
#include "pty.h"
#include "recorder.h"

namespace portlink::test {
namespace {

using namespace std::chrono_literals;

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
    const uint8_t byte = 1;
    ASSERT_EQ(write(pty.Master(), &byte, 1), 1);
    ASSERT_TRUE(recorder.WaitFor(1));
    // (A sanitizer may start a thread of its own with the first thread.)
    const int threads = Threads();
    ASSERT_EQ(dlclose(lib), 0);
    EXPECT_EQ(Threads(), threads - 1) << "the listener was joined at unload";
    // The device is free again and nothing runs on it.
    ASSERT_EQ(write(pty.Master(), &byte, 1), 1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.Count(), 1u);
}

}  // namespace
}  // namespace portlink::test
