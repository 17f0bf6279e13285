// The Windows Installer package's own actions, in a DLL that the package
// carries and never installs. Windows Installer takes back a registry value
// it wrote whatever it holds by then; the package's file type values are
// therefore kept from it and taken back here, each only while it still holds
// what the package wrote: another program may have taken the extension over
// since.
//
// RemoveOwnValues reads its records from CustomActionData:
//   KEY|NAME|DATA;KEY|NAME|DATA;...
// KEY under HKEY_CURRENT_USER, NAME empty for the default value. A record
// whose KEY starts with '+' goes only with the record before it that has
// none: a link scheme's "URL Protocol" holds nothing of the package's own,
// and belongs to whichever program's command the scheme holds by then. When
// a value goes, its key goes if nothing is left in it, and so on upwards,
// never above Software\<name>.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <string.h>

namespace {

// Longer data is a fault of the package: nothing is taken back.
const DWORD data_capacity = 4096;
const DWORD value_capacity = 1024;

bool holds(HKEY key, const char* name, const char* data) {
    char value[value_capacity];
    DWORD type = 0, size = sizeof value - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, (BYTE*)value, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    value[size] = 0;
    return strcmp(value, data) == 0;
}

bool is_empty(const char* path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD subkeys = 1, values = 1;
    LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                   &values, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

// Removes PATH (cut in place) and its parents while they are empty.
void remove_empty_keys(char* path) {
    for (;;) {
        char* last = strrchr(path, '\\');
        char* first = strchr(path, '\\');
        if (!last || last == first || !is_empty(path)) return;
        if (RegDeleteKeyA(HKEY_CURRENT_USER, path) != ERROR_SUCCESS) return;
        *last = 0;
    }
}

bool remove_own_value(char* path, const char* name, const char* data) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    bool removed = holds(key, name, data) && RegDeleteValueA(key, name) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (removed) remove_empty_keys(path);
    return removed;
}

void notify_shell() {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall RemoveOwnValues(MSIHANDLE install) {
    static char records[data_capacity];
    DWORD length = sizeof records;
    if (MsiGetPropertyA(install, "CustomActionData", records, &length) != ERROR_SUCCESS)
        return ERROR_SUCCESS;
    bool head_removed = false;
    for (char* record = records; *record;) {
        char* end = strchr(record, ';');
        char* next = end ? end + 1 : record + strlen(record);
        if (end) *end = 0;
        char* name = strchr(record, '|');
        char* data = name ? strchr(name + 1, '|') : nullptr;
        if (data) {
            *name++ = 0;
            *data++ = 0;
            if (*record != '+')
                head_removed = remove_own_value(record, name, data);
            else if (head_removed)
                remove_own_value(record + 1, name, data);
        }
        record = next;
    }
    notify_shell();
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall NotifyShell(MSIHANDLE) {
    notify_shell();
    return ERROR_SUCCESS;
}
