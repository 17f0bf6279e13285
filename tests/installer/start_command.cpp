// Starts one Windows command line as the shell starts a registered command:
// CreateProcess with the whole line, no program name apart. The line comes
// from the environment variable START_COMMAND_LINE, so that no layer between
// the test script and Windows requotes it. Waits up to a minute for the
// started program and exits with its exit code (or 200 and up on failures).
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main() {
    static char line[32768];
    DWORD length = GetEnvironmentVariableA("START_COMMAND_LINE", line, sizeof line);
    if (length == 0 || length >= sizeof line) {
        fprintf(stderr, "start_command: START_COMMAND_LINE is not set\n");
        return 200;
    }
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        fprintf(stderr, "start_command: CreateProcess failed: %lu\n", GetLastError());
        return 201;
    }
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        fprintf(stderr, "start_command: the program did not end within a minute\n");
        return 202;
    }
    DWORD code = 203;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}
