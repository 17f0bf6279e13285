// Fails one system call of a real program, as a failing machine would
// (docs/testing.md, "Faults"). Preloaded (LD_PRELOAD) into the program under
// test; only calls the program's own code makes count (not the C library's
// own, nor a shared library's), and only in the process first started, not
// in the helpers and products it starts. Removing a file is never failed:
// nothing could be done about it.
//
// FAULT_LOG: each call that counts appends "NUMBER KINDS FUNCTION PATH\n",
// KINDS the letters of the faults it can take (below); the one failed is
// marked "!" before its function. FAULT_KIND and FAULT_AT: the FAULT_AT-th
// call that can take FAULT_KIND fails so.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <spawn.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

// The faults: i EIO, s ENOSPC, f EFBIG after SIGXFSZ, t EINTR, a EACCES,
// m ENOMEM, r a short read, w a short write.
enum { READS = 1, WRITES, OPENS, CREATES, NAMES, LOOKS, CLOSES, SYNCS, MEMORY, STARTS, FOLDERS };
static const char* const KINDS[] = {"",   "itr", "isftw", "iam", "iams", "ias",
                                    "im", "it",  "is",    "m",   "am",   "iam"};

static uintptr_t program_low, program_high;
static pid_t first_process;
static int log_fd = -1;
static char wanted_kind;
static long wanted_at, counted;

static int find_program(struct dl_phdr_info* info, size_t size, void* data) {
    (void)size, (void)data;
    for (int i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr)* segment = &info->dlpi_phdr[i];
        if (segment->p_type != PT_LOAD) continue;
        uintptr_t low = info->dlpi_addr + segment->p_vaddr;
        uintptr_t high = low + segment->p_memsz;
        if (program_low == 0 || low < program_low) program_low = low;
        if (high > program_high) program_high = high;
    }
    return 1; // the program itself comes first
}

__attribute__((constructor)) static void start(void) {
    dl_iterate_phdr(find_program, NULL);
    first_process = getpid();
    unsetenv("LD_PRELOAD"); // the programs it starts run as they are
    // The shim's own calls count for nothing; the log's descriptor is kept
    // out of the program's way.
    const char* log = getenv("FAULT_LOG");
    int fd = log != NULL ? open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600) : -1;
    log_fd = fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 100) : -1;
    if (fd >= 0) close(fd);
    const char* kind = getenv("FAULT_KIND");
    wanted_kind = kind != NULL ? kind[0] : 0;
    wanted_at = getenv("FAULT_AT") != NULL ? atol(getenv("FAULT_AT")) : 0;
}

#define REAL(name)                                                                                 \
    static __typeof__(name)* real_##name;                                                          \
    if (real_##name == NULL) real_##name = (__typeof__(name)*)dlsym(RTLD_NEXT, #name)

static void note(long number, int kinds, int failed, const char* function, const char* path) {
    if (log_fd < 0) return;
    char line[600];
    int n = snprintf(line, sizeof line, "%ld %s %s%s %s\n", number, KINDS[kinds], failed ? "!" : "",
                     function, path != NULL ? path : "-");
    if (n > 0)
        (void)!write(log_fd, line, (size_t)(n < (int)sizeof line ? n : (int)sizeof line - 1));
}

// The path of descriptor `fd`, for the log.
static const char* fd_path(int fd, char* dest, size_t capacity) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, dest, capacity - 1);
    dest[n > 0 ? n : 0] = '\0';
    return dest;
}

// The fault this call takes (0: none). Calls of other code, of other
// processes count for nothing.
static char fault(const void* from, int kinds, const char* function, const char* path) {
    if (getpid() != first_process || (uintptr_t)from < program_low ||
        (uintptr_t)from >= program_high)
        return 0;
    const char* can = KINDS[kinds];
    static long numbers;
    long number = ++numbers;
    int failed = wanted_kind != 0 && strchr(can, wanted_kind) != NULL && ++counted == wanted_at;
    note(number, kinds, failed, function, path);
    return failed ? wanted_kind : 0;
}

static int fail_with(char kind) {
    static const char letters[] = "isftam";
    static const int errors[] = {EIO, ENOSPC, EFBIG, EINTR, EACCES, ENOMEM};
    if (kind == 'f') raise(SIGXFSZ); // as the system does: by default it ends the process
    errno = errors[strchr(letters, kind) - letters];
    return -1;
}

// Descriptors 0 to 2 are the terminal and the boxes' text, not files.
static int is_file(int fd) {
    struct stat info;
    return fd > 2 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

#define GUARD(kinds, path)                                                                         \
    char kind = fault(__builtin_return_address(0), kinds, __func__, path);                         \
    if (kind != 0 && kind != 'r' && kind != 'w') return fail_with(kind)

// open and openat: a mode only with O_CREAT or O_TMPFILE.
#define OPEN(name, params, args)                                                                   \
    int name params {                                                                              \
        va_list list;                                                                              \
        va_start(list, flags);                                                                     \
        mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(list, mode_t) : 0;                  \
        va_end(list);                                                                              \
        GUARD((flags & O_CREAT) ? CREATES : OPENS, path);                                          \
        REAL(name);                                                                                \
        return real_##name args;                                                                   \
    }
OPEN(open, (const char* path, int flags, ...), (path, flags, mode))
OPEN(openat, (int at, const char* path, int flags, ...), (at, path, flags, mode))

FILE* fopen(const char* path, const char* mode) {
    char kind =
        fault(__builtin_return_address(0), strchr(mode, 'r') ? OPENS : CREATES, __func__, path);
    if (kind != 0) return fail_with(kind), (FILE*)NULL;
    REAL(fopen);
    return real_fopen(path, mode);
}

static ssize_t read_part(const void* from, const char* function, int fd, size_t* size) {
    char path[512];
    if (!is_file(fd)) return 0;
    char kind = fault(from, READS, function, fd_path(fd, path, sizeof path));
    if (kind == 'r' && *size > 1) *size /= 2;
    return kind == 'r' ? 0 : kind != 0 ? fail_with(kind) : 0;
}

ssize_t read(int fd, void* dest, size_t size) {
    if (read_part(__builtin_return_address(0), __func__, fd, &size) < 0) return -1;
    REAL(read);
    return real_read(fd, dest, size);
}

ssize_t pread(int fd, void* dest, size_t size, off_t at) {
    if (read_part(__builtin_return_address(0), __func__, fd, &size) < 0) return -1;
    REAL(pread);
    return real_pread(fd, dest, size, at);
}

size_t fread(void* dest, size_t size, size_t count, FILE* stream) {
    char path[512];
    if (is_file(fileno(stream)) && fault(__builtin_return_address(0), READS, __func__,
                                         fd_path(fileno(stream), path, sizeof path)) == 'i') {
        // As the C library marks a stream whose read failed.
        stream->_flags |= 0x20; // _IO_ERR_SEEN
        errno = EIO;
        return 0;
    }
    REAL(fread);
    return real_fread(dest, size, count, stream);
}

ssize_t write(int fd, const void* data, size_t size) {
    char path[512];
    if (is_file(fd)) {
        char kind =
            fault(__builtin_return_address(0), WRITES, __func__, fd_path(fd, path, sizeof path));
        if (kind == 'w' && size > 1) size /= 2;
        if (kind != 0 && kind != 'w') return fail_with(kind);
    }
    REAL(write);
    return real_write(fd, data, size);
}

// Standard output and error as streams: a full device, a closed pipe.
int fflush(FILE* stream) {
    char kind = stream == NULL ? 0 : fault(__builtin_return_address(0), SYNCS, __func__, "stream");
    if (kind != 0) {
        stream->_flags |= 0x20;
        return fail_with(kind), EOF;
    }
    REAL(fflush);
    return real_fflush(stream);
}

int close(int fd) {
    char path[512];
    char kind = is_file(fd) ? fault(__builtin_return_address(0), CLOSES, __func__,
                                    fd_path(fd, path, sizeof path))
                            : 0;
    REAL(close);
    int result = real_close(fd); // closed all the same, as the system does
    return kind != 0 ? fail_with(kind) : result;
}

int fclose(FILE* stream) {
    char path[512];
    int fd = fileno(stream);
    char kind = is_file(fd) ? fault(__builtin_return_address(0), CLOSES, __func__,
                                    fd_path(fd, path, sizeof path))
                            : 0;
    REAL(fclose);
    int result = real_fclose(stream);
    return kind != 0 ? fail_with(kind), EOF : result;
}

// Calls that take a descriptor or a path, failed before they are made.
#define ON_FD(kinds, result, name, params, args)                                                   \
    result name params {                                                                           \
        char path[512];                                                                            \
        GUARD(kinds, fd > 2 ? fd_path(fd, path, sizeof path) : "-");                               \
        REAL(name);                                                                                \
        return real_##name args;                                                                   \
    }
#define ON_PATH(kinds, result, name, params, args, path)                                           \
    result name params {                                                                           \
        GUARD(kinds, path);                                                                        \
        REAL(name);                                                                                \
        return real_##name args;                                                                   \
    }

ON_FD(SYNCS, int, fsync, (int fd), (fd))
ON_FD(SYNCS, int, ftruncate, (int fd, off_t size), (fd, size))
ON_FD(LOOKS, int, fchmod, (int fd, mode_t mode), (fd, mode))
ON_FD(LOOKS, int, fchown, (int fd, uid_t user, gid_t group), (fd, user, group))
ON_FD(CLOSES, int, flock, (int fd, int operation), (fd, operation))
ON_FD(LOOKS, int, fstat, (int fd, struct stat* info), (fd, info))
ON_PATH(NAMES, int, rename, (const char* from, const char* to), (from, to), to)
ON_PATH(NAMES, int, link, (const char* from, const char* to), (from, to), to)
ON_PATH(NAMES, int, mkdir, (const char* path, mode_t mode), (path, mode), path)
ON_PATH(NAMES, int, mkdirat, (int at, const char* path, mode_t mode), (at, path, mode), path)
ON_PATH(FOLDERS, int, chdir, (const char* path), (path), path)
ON_PATH(LOOKS, int, stat, (const char* path, struct stat* info), (path, info), path)
ON_PATH(LOOKS, int, lstat, (const char* path, struct stat* info), (path, info), path)
ON_PATH(CREATES, int, mkostemp, (char* pattern, int flags), (pattern, flags), pattern)

// A lease asked for or given back (the file's other readers): other
// commands are the C library's business.
int fcntl(int fd, int command, ...) {
    va_list list;
    va_start(list, command);
    long argument = va_arg(list, long);
    va_end(list);
    if (command == F_SETLEASE) {
        char path[512];
        GUARD(CLOSES, fd_path(fd, path, sizeof path));
    }
    REAL(fcntl);
    return real_fcntl(fd, command, argument);
}
char* getcwd(char* dest, size_t size) {
    char kind = fault(__builtin_return_address(0), FOLDERS, __func__, "-");
    if (kind != 0) return fail_with(kind), (char*)NULL;
    REAL(getcwd);
    return real_getcwd(dest, size);
}

int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
    char kind = fault(__builtin_return_address(0), STARTS, __func__, path);
    if (kind != 0) return kind == 'a' ? EACCES : ENOMEM;
    REAL(posix_spawn);
    return real_posix_spawn(pid, path, actions, attributes, argv, envp);
}

#ifdef FAULT_MEMORY
// Working memory that cannot be had; only where no sanitizer keeps its own.
void* __libc_malloc(size_t size);

void* malloc(size_t size) {
    if (fault(__builtin_return_address(0), MEMORY, __func__, "-") != 0) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_malloc(size);
}
#endif
