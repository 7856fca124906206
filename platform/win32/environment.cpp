#include "environment.h"

#include <cerrno>
#include <cstdlib>

#include "text_utf16.h"

bool SetProcessEnv(const std::string &name, const std::string &value) {
    // The C runtime's copy is what getenv reads; it passes the value on to
    // the system's block as well.
    const int rc = _wputenv_s(Utf8ToUtf16(name).c_str(), Utf8ToUtf16(value).c_str());
    if (rc != 0) errno = rc;
    return rc == 0;
}
