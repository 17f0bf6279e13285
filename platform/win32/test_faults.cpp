// The Windows face's test switch: fails one Win32 call of a real Windows
// program, as a failing machine would (docs/testing.md, "Faults"), as
// tests/faults/fault_shim.c does on POSIX. Linked only into the test twins
// of the programs (launcher_faults.exe, talvin-config_faults.exe), never
// into those shipped: before the program's entry it points the program's
// own import slots for the calls below at wrappers, so only calls of the
// program's own code count (not those of Windows' DLLs or the C library's
// DLL), and the programs it starts run as they are. Removing a file is
// never failed.
//
// The variables of fault_shim.c: FAULT_LOG (a Windows name) gets a line
// "NUMBER KINDS FUNCTION PATH" for each call that counts, the failed one's
// function marked "!"; the FAULT_AT-th call that can take FAULT_KIND fails so.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

namespace {

// The faults, with the errors Windows gives: i a device error (a read's
// ERROR_CRC), s ERROR_DISK_FULL, a ERROR_ACCESS_DENIED, v
// ERROR_SHARING_VIOLATION, m ERROR_NOT_ENOUGH_MEMORY, r a short read, w a
// short write.
const char READS[] = "ir", WRITES[] = "isw", OPENS[] = "av", CREATES[] = "asv", NAMES[] = "asv",
           LOOKS[] = "ia", SYNCS[] = "is", CLOSES[] = "i", FOLDERS[] = "a", STARTS[] = "am",
           MEMORY[] = "m";

FILE* log_file;
char wanted_kind;
long wanted_at, counted, numbered;

// The name of an open file, for the log.
const char* name_of(HANDLE file) {
    static char path[MAX_PATH + 4];
    DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, 0);
    return length == 0 || length >= sizeof path ? "-"
           : strncmp(path, "\\\\?\\", 4) == 0   ? path + 4
                                                : path;
}

// The fault this call takes (0: none).
char fault(const char* kinds, const char* function, const char* path) {
    bool failed =
        wanted_kind != 0 && strchr(kinds, wanted_kind) != nullptr && ++counted == wanted_at;
    if (log_file != nullptr)
        fprintf(log_file, "%ld %s %s%s %s\n", ++numbered, kinds, failed ? "!" : "", function, path);
    return failed ? wanted_kind : 0;
}

DWORD error_of(char kind) {
    return kind == 'i'   ? ERROR_IO_DEVICE
           : kind == 's' ? ERROR_DISK_FULL
           : kind == 'a' ? ERROR_ACCESS_DENIED
           : kind == 'v' ? ERROR_SHARING_VIOLATION
                         : ERROR_NOT_ENOUGH_MEMORY;
}

// Reads, writes and closes count on disk files only: not the console or
// pipes, nor standard output and error where they are files.
bool is_file(HANDLE handle) {
    return handle != GetStdHandle(STD_INPUT_HANDLE) && handle != GetStdHandle(STD_OUTPUT_HANDLE) &&
           handle != GetStdHandle(STD_ERROR_HANDLE) && GetFileType(handle) == FILE_TYPE_DISK;
}

// A call failed before it is made: the error set, `failed` given.
#define BEFORE(result, name, kinds, path, failed, params, args)                                    \
    decltype(&name) real_##name;                                                                   \
    result WINAPI fake_##name params {                                                             \
        if (char kind = fault(kinds, #name, path)) return SetLastError(error_of(kind)), failed;    \
        return real_##name args;                                                                   \
    }
BEFORE(BOOL, GetFileSizeEx, LOOKS, name_of(file), FALSE, (HANDLE file, PLARGE_INTEGER size),
       (file, size))
BEFORE(BOOL, GetFileInformationByHandle, LOOKS, name_of(file), FALSE,
       (HANDLE file, LPBY_HANDLE_FILE_INFORMATION info), (file, info))
BEFORE(DWORD, GetFileAttributesA, LOOKS, path, INVALID_FILE_ATTRIBUTES, (LPCSTR path), (path))
BEFORE(BOOL, FlushFileBuffers, SYNCS, name_of(file), FALSE, (HANDLE file), (file))
BEFORE(BOOL, MoveFileExA, NAMES, to, FALSE, (LPCSTR from, LPCSTR to, DWORD flags),
       (from, to, flags))
BEFORE(BOOL, CreateDirectoryA, NAMES, path, FALSE, (LPCSTR path, LPSECURITY_ATTRIBUTES security),
       (path, security))
BEFORE(UINT, GetTempFileNameA, NAMES, folder, 0,
       (LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR dest), (folder, prefix, unique, dest))
BEFORE(BOOL, SetCurrentDirectoryA, FOLDERS, path, FALSE, (LPCSTR path), (path))
BEFORE(LPVOID, HeapAlloc, MEMORY, "-", nullptr, (HANDLE heap, DWORD flags, SIZE_T size),
       (heap, flags, size))
// The system's cryptography, loaded when a signature is checked.
BEFORE(HMODULE, LoadLibraryA, MEMORY, path, nullptr, (LPCSTR path), (path))

BEFORE(HANDLE, CreateFileA,
       (access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0 ||
               disposition != OPEN_EXISTING
           ? CREATES
           : OPENS,
       path, INVALID_HANDLE_VALUE,
       (LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
        DWORD flags, HANDLE model),
       (path, access, share, security, disposition, flags, model))

decltype(&ReadFile) real_ReadFile;
BOOL WINAPI fake_ReadFile(HANDLE file, LPVOID dest, DWORD size, LPDWORD count, LPOVERLAPPED at) {
    char kind = is_file(file) ? fault(READS, "ReadFile", name_of(file)) : 0;
    if (kind == 'i') return *count = 0, SetLastError(ERROR_CRC), FALSE;
    return real_ReadFile(file, dest, kind == 'r' && size > 1 ? size / 2 : size, count, at);
}

decltype(&WriteFile) real_WriteFile;
BOOL WINAPI fake_WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD count, LPOVERLAPPED at) {
    char kind = is_file(file) ? fault(WRITES, "WriteFile", name_of(file)) : 0;
    if (kind == 'i' || kind == 's') return *count = 0, SetLastError(error_of(kind)), FALSE;
    return real_WriteFile(file, data, kind == 'w' && size > 1 ? size / 2 : size, count, at);
}

// Closed all the same, as the system does.
decltype(&CloseHandle) real_CloseHandle;
BOOL WINAPI fake_CloseHandle(HANDLE handle) {
    char kind = is_file(handle) ? fault(CLOSES, "CloseHandle", name_of(handle)) : 0;
    BOOL closed = real_CloseHandle(handle);
    return kind != 0 ? SetLastError(ERROR_IO_DEVICE), FALSE : closed;
}

// WinExec's results: 0 for no memory, else an error below 32.
decltype(&WinExec) real_WinExec;
UINT WINAPI fake_WinExec(LPCSTR line, UINT show) {
    if (char kind = fault(STARTS, "WinExec", line)) return kind == 'm' ? 0 : ERROR_ACCESS_DENIED;
    return real_WinExec(line, show);
}

// clang-format off
#define WRAP(name) {#name, (void**)&real_##name, (void*)fake_##name}
const struct {
    const char* name;
    void** real;
    void* fake;
} wrapped[] = {
    WRAP(CreateFileA), WRAP(ReadFile), WRAP(WriteFile), WRAP(CloseHandle), WRAP(GetFileSizeEx),
    WRAP(GetFileInformationByHandle), WRAP(GetFileAttributesA), WRAP(FlushFileBuffers),
    WRAP(MoveFileExA), WRAP(CreateDirectoryA), WRAP(GetTempFileNameA), WRAP(SetCurrentDirectoryA),
    WRAP(WinExec), WRAP(HeapAlloc), WRAP(LoadLibraryA)};
// clang-format on

// Points the program's import slots of the wrapped calls at the wrappers.
__attribute__((constructor)) void start() {
    const char* log = getenv("FAULT_LOG");
    if (log != nullptr && (log_file = fopen(log, "a")) != nullptr)
        setvbuf(log_file, nullptr, _IONBF, 0);
    wanted_kind = getenv("FAULT_KIND") != nullptr ? getenv("FAULT_KIND")[0] : 0;
    wanted_at = getenv("FAULT_AT") != nullptr ? atol(getenv("FAULT_AT")) : 0;
    BYTE* base = (BYTE*)GetModuleHandleA(nullptr);
    IMAGE_NT_HEADERS* headers = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    DWORD imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* dll = (IMAGE_IMPORT_DESCRIPTOR*)(base + imports); dll->Name != 0; dll++) {
        auto* names = (IMAGE_THUNK_DATA*)(base + dll->OriginalFirstThunk);
        auto* slots = (IMAGE_THUNK_DATA*)(base + dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* name =
                (const char*)((IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData))->Name;
            for (const auto& w : wrapped) {
                if (strcmp(name, w.name) != 0) continue;
                DWORD was;
                VirtualProtect(slots, sizeof *slots, PAGE_READWRITE, &was);
                *w.real = (void*)slots->u1.Function;
                slots->u1.Function = (ULONG_PTR)w.fake;
                VirtualProtect(slots, sizeof *slots, was, &was);
            }
        }
    }
}

} // namespace
