// Fuzz target: talvin-check's text report of arbitrary bytes as a launch file
// and as talvin.ini. The first byte gives the length of the launch file's
// name, taken from the bytes after it; the rest is the file. The report,
// read as UTF-8 by the C library, holds only characters, none of them a
// control character (C1 too) of the files or the name.
#include "check/check_run.h"
#include "launch_files/launch_settings.h"
#include "launch_files/section_reader.h"

#include "tests/fuzz/fuzz_check.h"

#include <locale.h>
#include <sys/mman.h>
#include <wchar.h>
#include <sys/stat.h>

static std::string directory, launch_path;

// check_questions.cpp's own, renamed for this target: the programs a file
// names are not looked at outside the target's folder (a name such as
// /dev/tty is not opened).
unsigned system_check_predict_start(const char* command_line, const char* directory, char* why,
                                    unsigned capacity);
unsigned check_predict_start(const char* command_line, const char* in, char* why,
                             unsigned capacity) {
    const char* program = command_line + (command_line[0] == '"');
    if (strncmp(program, directory.c_str(), directory.size()) == 0)
        return system_check_predict_start(command_line, in, why, capacity);
    check_format(why, capacity, "%s is not looked at", command_line);
    return 2;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    directory = fuzz_directory();
    if (mkdir((directory + "/win").c_str(), 0700) != 0) abort();
    setenv("WINDIR", (directory + "/win").c_str(), 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    // The report is written into memory, as standard output.
    if (dup2(memfd_create("report", 0), 1) != 1) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t skip = size > 0 ? 1 : 0, name_length = size > 0 ? data[0] % 32 : 0;
    if (skip + name_length > size) name_length = size - skip;
    std::string name((const char*)data + skip, name_length);
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    std::string bytes((const char*)data + skip + name_length, size - skip - name_length);
    unlink(launch_path.c_str());
    launch_path = directory + "/g" + name + ".tvl";
    write_bytes(launch_path, bytes);
    write_bytes(directory + "/win/talvin.ini", bytes);

    static CheckRun run;
    memset(&run, 0, sizeof run);
    run.argument = launch_path.c_str();
    launch_settings_init();
    line_pushed_back = false;
    check_run(&run);
    if (ftruncate(1, 0) != 0 || lseek(1, 0, SEEK_SET) != 0) abort();
    check_print_text(&run);
    fflush(stdout);
    check_end(&run);
    std::string text((size_t)lseek(1, 0, SEEK_CUR), '\0');
    if (pread(1, &text[0], text.size(), 0) != (ssize_t)text.size()) abort();

    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    locale_t given = uselocale(utf8);
    mbstate_t state = {};
    for (size_t i = 0, length; i < text.size(); i += length) {
        wchar_t c = 0;
        length = mbrtowc(&c, &text[i], text.size() - i, &state);
        check(length <= text.size() - i, "only characters in the report");
        check((c >= 0x20 || c == '\n') && (c < 0x7F || c > 0x9F), "no control in the report");
    }
    uselocale(given);
    return 0;
}
