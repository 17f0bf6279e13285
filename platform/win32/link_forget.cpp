// Removing a link's file on Windows once the product has had time to read
// it: the launcher stays that long, showing nothing, and answers the
// messages sent to its hidden window meanwhile (a broadcast must not wait
// on it); browsers do not wait for it.
#include "platform/platform.h"

#include <string.h>
#include <windows.h>

namespace {

// The tests' hook: fewer seconds, or "sweep" for the case runners, which
// look at the file after the launch.
DWORD keep_milliseconds() {
    char hook[16];
    DWORD length = GetEnvironmentVariableA("TALVIN_TEST_LINK_KEEP", hook, sizeof hook);
    if (length == 0 || length >= sizeof hook) return LINK_KEEP_SECONDS * 1000;
    if (strcmp(hook, "sweep") == 0) return 0;
    DWORD seconds = 0;
    for (const char* p = hook; *p >= '0' && *p <= '9' && seconds < LINK_KEEP_SECONDS; p++)
        seconds = seconds * 10 + (DWORD)(*p - '0');
    return seconds == 0 || seconds > LINK_KEEP_SECONDS ? LINK_KEEP_SECONDS * 1000 : seconds * 1000;
}

} // namespace

void platform_forget_link_file(const char* path) {
    DWORD wait = keep_milliseconds();
    if (wait == 0) return;
    DWORD start = GetTickCount();
    for (DWORD passed; (passed = GetTickCount() - start) < wait;) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, wait - passed, QS_ALLINPUT) !=
            WAIT_OBJECT_0)
            continue;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    // The folder is the user's own, under the local application data.
    DeleteFileA(path);
}
