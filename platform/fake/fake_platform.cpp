#include "platform/fake/fake_platform.h"

#include <stdlib.h>
#include <string.h>

namespace fake {

std::vector<MessageBox> message_boxes;
std::vector<Started> started;
std::vector<std::string> directories;
std::vector<std::pair<std::string, std::string>> environment;
std::string windows_directory;
bool windows_directory_fails;
char separator;
std::string short_path;
std::string current_directory;
bool read_back_given;
std::string read_back;
unsigned start_result;
bool ignore_case;
std::string lead_bytes;
long fail_memory_at;
long memory_requests;
long memory_outstanding;
bool crypto_unavailable;
std::function<void()> before_append;
std::function<void()> before_signature;

void reset() {
    message_boxes.clear();
    started.clear();
    directories.clear();
    environment.clear();
    windows_directory = "C:\\WINDOWS";
    windows_directory_fails = false;
    separator = '/';
    short_path.clear();
    current_directory.clear();
    read_back_given = false;
    read_back.clear();
    start_result = 33;
    ignore_case = true;
    lead_bytes.clear();
    fail_memory_at = 0;
    memory_requests = 0;
    memory_outstanding = 0;
    crypto_unavailable = false;
    before_append = nullptr;
    before_signature = nullptr;
}

namespace {

struct Init {
    Init() { reset(); }
} init;

unsigned copy_out(const std::string& text, char* dest, unsigned capacity) {
    if (text.size() + 1 > capacity) {
        if (capacity > 0) memcpy(dest, text.c_str(), capacity - 1);
        if (capacity > 0) dest[capacity - 1] = '\0';
        return (unsigned)(text.size() + 1);
    }
    memcpy(dest, text.c_str(), text.size() + 1);
    return (unsigned)text.size();
}

bool is_absolute(const char* path) {
    return path[0] == '/' || path[0] == '\\' || (path[0] != '\0' && path[1] == ':');
}

} // namespace

} // namespace fake

using namespace fake;

void platform_message_box(platform_window owner, const char* text, const char* caption) {
    message_boxes.push_back({owner, text, caption});
}

unsigned platform_windows_directory(char* dest, unsigned capacity) {
    if (windows_directory_fails) return 0;
    return copy_out(windows_directory, dest, capacity);
}

unsigned platform_system_settings_directory(char*, unsigned) {
    return 0;
}

const char* platform_settings_directory_reason(void) {
    return "The recording platform's scripted Windows directory.";
}

char platform_path_separator(void) {
    return separator;
}

unsigned platform_short_path(const char*, char* dest, unsigned capacity) {
    if (short_path.empty()) return 0;
    return copy_out(short_path, dest, capacity);
}

unsigned platform_full_path(const char* path, char* dest, unsigned capacity) {
    if (is_absolute(path)) return copy_out(path, dest, capacity);
    if (current_directory.empty()) return 0;
    return copy_out(current_directory + "/" + path, dest, capacity);
}

int platform_change_directory(const char* path) {
    directories.push_back(path);
    current_directory = path;
    return 1;
}

unsigned platform_current_directory(char* dest, unsigned capacity) {
    if (!read_back_given || directories.empty()) return copy_out(current_directory, dest, capacity);
    if (!read_back.empty()) return copy_out(read_back, dest, capacity);
    copy_out("Q:\\failed", dest, capacity);
    return 0;
}

void platform_set_environment(const char* name, const char* value) {
    environment.push_back({name, value});
}

unsigned platform_start_program(const char* command_line, int show_state, int) {
    started.push_back({command_line, show_state});
    return start_result;
}

int platform_file_names_ignore_case(void) {
    return ignore_case ? 1 : 0;
}

int platform_is_lead_byte(unsigned char byte) {
    return byte != 0 && lead_bytes.find((char)byte) != std::string::npos;
}

void* platform_take_memory(size_t size) {
    if (++memory_requests == fail_memory_at) return nullptr;
    void* block = malloc(size);
    if (block == nullptr) return nullptr;
    memory_outstanding++;
    // Never zero, as memory the system hands out need not be.
    return memset(block, 0xa5, size);
}

void platform_give_memory(void* block) {
    if (block == nullptr) return;
    memory_outstanding--;
    free(block);
}

int system_verify_p256(const unsigned char public_key[64], const void* message, size_t size,
                       const unsigned char signature[64]);

int platform_verify_p256(const unsigned char public_key[64], const void* message, size_t size,
                         const unsigned char signature[64]) {
    if (crypto_unavailable) return -1;
    return system_verify_p256(public_key, message, size, signature);
}

void system_append(const char* path, platform_file read, const void* data, unsigned size);

void platform_append(const char* path, platform_file read, const void* data, unsigned size) {
    if (before_append) before_append();
    system_append(path, read, data, size);
}

platform_file system_open_settings_file(const char* path, char* why, unsigned why_capacity);

platform_file platform_open_settings_file(const char* path, char* why, unsigned why_capacity) {
    if (before_signature) before_signature();
    before_signature = nullptr;
    return system_open_settings_file(path, why, why_capacity);
}

// The file stays where the cases look at it; the POSIX program's removal is
// held by the desktop test.
void platform_forget_link_file(const char*) {}
