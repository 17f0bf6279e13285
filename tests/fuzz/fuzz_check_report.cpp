// Fuzz target: talvin-check's reports of arbitrary bytes as a launch file and
// as talvin.ini, the launch file named by the input too. The first byte
// gives the length of the name's part from the input, which follows it; the
// rest is the file. No control character of the files or the name reaches
// the text report (it is read as UTF-8, where C2 80 to C2 9F are controls
// too), and the JSON report holds none outside its escapes.
#include "check/check_run.h"
#include "launch_files/launch_settings.h"
#include "launch_files/section_reader.h"

#include "tests/fuzz/fuzz_check.h"

#include <sys/mman.h>
#include <sys/stat.h>

namespace {

std::string directory, settings_path, launch_path;
int report; // standard output goes to this file

void remove_files() {
    unlink(launch_path.c_str());
    unlink(settings_path.c_str());
    rmdir((directory + "/win").c_str());
    rmdir(directory.c_str());
}

// The report's text since `run_report` emptied the file.
std::string run_report(void (*print)(const CheckRun*), const CheckRun* run) {
    fflush(stdout);
    if (ftruncate(report, 0) != 0 || lseek(report, 0, SEEK_SET) != 0) abort();
    print(run);
    fflush(stdout);
    std::string text((size_t)lseek(report, 0, SEEK_CUR), '\0');
    if (pread(report, &text[0], text.size(), 0) != (ssize_t)text.size()) abort();
    return text;
}

} // namespace

// check_questions.cpp's own, renamed for this target.
unsigned system_check_predict_program(const char* program, const char* directory, char* why,
                                      unsigned capacity);

// The programs a file names are not looked at outside this target's folder:
// a name such as /dev/tty is not opened.
unsigned check_predict_program(const char* program, const char* directory_now, char* why,
                               unsigned capacity) {
    if (strncmp(program, directory.c_str(), directory.size()) == 0)
        return system_check_predict_program(program, directory_now, why, capacity);
    check_format(why, capacity, "%s is not looked at", program);
    return 2;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    directory = fuzz_directory(remove_files);
    if (mkdir((directory + "/win").c_str(), 0700) != 0) abort();
    settings_path = directory + "/win/talvin.ini";
    setenv("WINDIR", (directory + "/win").c_str(), 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    report = memfd_create("report", 0);
    if (report < 0 || dup2(report, 1) != 1) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t name_length = size > 0 ? data[0] % 32 : 0;
    if (name_length + 1 > size) name_length = size > 0 ? size - 1 : 0;
    std::string name((const char*)data + (size > 0), name_length);
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    std::string bytes((const char*)data + (size > 0) + name_length,
                      size - (size > 0) - name_length);
    unlink(launch_path.c_str());
    launch_path = directory + "/g" + name + ".tvl";
    write_bytes(launch_path, bytes);
    write_bytes(settings_path, bytes);

    static CheckRun run;
    memset(&run, 0, sizeof run);
    run.argument = launch_path.c_str();
    launch_settings_init();
    line_pushed_back = false;
    check_run(&run);
    std::string text = run_report(check_print_text, &run);
    std::string json = run_report(check_print_json, &run);
    check_end(&run);

    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = (unsigned char)text[i];
        check((c >= 0x20 || c == '\n') && c != 0x7F, "no C0 control or DEL in the text report");
        check(!(c == 0xC2 && i + 1 < text.size() && (unsigned char)text[i + 1] >= 0x80 &&
                (unsigned char)text[i + 1] <= 0x9F),
              "no C1 control in the text report");
    }
    for (char c : json)
        check((unsigned char)c >= 0x20 || c == '\n', "no raw control byte in the JSON report");
    return 0;
}
