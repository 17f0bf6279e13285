// The Windows Installer package's own actions, in a DLL that the package
// carries and never installs. Windows Installer takes back a registry value
// it wrote whatever it holds by then; the package's file type values are
// therefore kept from it and taken back here, each only while it still holds
// what the package wrote: another program may have taken the extension over
// since.
//
// RemoveOwnValues reads its records from CustomActionData, each ended by a
// line feed, its three fields parted by tabs:
//   KEY<tab>NAME<tab>DATA<line feed>
// KEY under HKEY_CURRENT_USER, NAME empty for the default value. DATA holds
// the install folder, which may hold any character a Windows name may (';',
// '%', apostrophes, brackets, any script), but no control character: no
// folder name can move a field's end. The text is taken and compared as
// UTF-16, so a name outside the ANSI code page matches too. A record
// whose KEY starts with '+' goes only with the record before it that has
// none: a link scheme's "URL Protocol" holds nothing of the package's own,
// and belongs to whichever program's command the scheme holds by then. When
// a value goes, its key goes if nothing is left in it, and so on upwards,
// never above Software\<name>.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <wchar.h>

namespace {

// Longer data is a fault of the package: nothing is taken back.
const DWORD data_capacity = 4096;
const DWORD value_capacity = 1024;

bool holds(HKEY key, const wchar_t* name, const wchar_t* data) {
    wchar_t value[value_capacity];
    DWORD type = 0, size = sizeof value - sizeof value[0];
    if (RegQueryValueExW(key, name, nullptr, &type, (BYTE*)value, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    value[size / sizeof value[0]] = 0;
    return wcscmp(value, data) == 0;
}

bool is_empty(const wchar_t* path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD subkeys = 1, values = 1;
    LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                   &values, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

// Removes PATH (cut in place) and its parents while they are empty.
void remove_empty_keys(wchar_t* path) {
    for (;;) {
        wchar_t* last = wcsrchr(path, L'\\');
        wchar_t* first = wcschr(path, L'\\');
        if (!last || last == first || !is_empty(path)) return;
        if (RegDeleteKeyW(HKEY_CURRENT_USER, path) != ERROR_SUCCESS) return;
        *last = 0;
    }
}

bool remove_own_value(wchar_t* path, const wchar_t* name, const wchar_t* data) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    bool removed = holds(key, name, data) && RegDeleteValueW(key, name) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (removed) remove_empty_keys(path);
    return removed;
}

void notify_shell() {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall RemoveOwnValues(MSIHANDLE install) {
    static wchar_t records[data_capacity];
    DWORD length = data_capacity;
    if (MsiGetPropertyW(install, L"CustomActionData", records, &length) != ERROR_SUCCESS)
        return ERROR_SUCCESS;
    bool head_removed = false;
    for (wchar_t* record = records; *record;) {
        wchar_t* end = wcschr(record, L'\n');
        wchar_t* next = end ? end + 1 : record + wcslen(record);
        if (end) *end = 0;
        wchar_t* name = wcschr(record, L'\t');
        wchar_t* data = name ? wcschr(name + 1, L'\t') : nullptr;
        if (data) {
            *name++ = 0;
            *data++ = 0;
            if (*record != L'+')
                head_removed = remove_own_value(record, name, data);
            else if (head_removed)
                remove_own_value(record + 1, name, data);
        }
        record = next;
    }
    notify_shell();
    return ERROR_SUCCESS;
}

// The launcher's files of talvin: links (Talvin\links in the user's local
// application data), which may hold the password, and the folders when
// nothing else is left in them.
extern "C" __declspec(dllexport) UINT __stdcall RemoveLinkFiles(MSIHANDLE) {
    wchar_t folder[MAX_PATH + 40], path[2 * MAX_PATH + 64];
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK)
        return ERROR_SUCCESS;
    wcscat(folder, L"\\Talvin\\links");
    _snwprintf(path, 2 * MAX_PATH + 64, L"%ls\\link-*.tvl", folder);
    WIN32_FIND_DATAW found;
    HANDLE listing = FindFirstFileW(path, &found);
    for (bool more = listing != INVALID_HANDLE_VALUE; more; more = FindNextFileW(listing, &found)) {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        _snwprintf(path, 2 * MAX_PATH + 64, L"%ls\\%ls", folder, found.cFileName);
        DeleteFileW(path);
    }
    if (listing != INVALID_HANDLE_VALUE) FindClose(listing);
    RemoveDirectoryW(folder);
    *wcsrchr(folder, L'\\') = 0;
    RemoveDirectoryW(folder);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall NotifyShell(MSIHANDLE) {
    notify_shell();
    return ERROR_SUCCESS;
}
