// talvin-sign: signs launch files for a product that takes only signed ones.
//   talvin-sign --key KEY.pem LAUNCH_FILE   appends the signature section
//   talvin-sign --key KEY.pem --link LAUNCH_FILE   also prints the file's talvin: link
//   talvin-sign --key KEY.pem --public      prints the public key for talvin.ini
// KEY.pem is a P-256 private key in PEM or DER (openssl genpkey -algorithm
// EC -pkeyopt ec_paramgen_curve:P-256). Exit status 0 done, 1 failed, 2 usage.
#include "check/terminal_text.h"
#include "platform/settings_write.h"
#include "platform/terminal_set.h"
#include "tools/sign_key.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum {
    // Room for the section in the launcher's 1 MiB, which counts the file up
    // to the end of its signature: the blocks each opening appends after it
    // do not count, so a file taken once is taken every time.
    LAUNCH_FILE_CAP = 1048576 - 256,
    LINK_LENGTH_LIMIT = 4096, // the launcher takes links of up to 4096 characters
};

int fail(const char* what, const char* name) {
    terminal_printf(stderr, "talvin-sign: %s: %s\n", name, what);
    return 1;
}

// Standard output, flushed: false, and said, when it could not be written
// (a full device, a closed pipe).
bool output_written(const char* what) {
    if (fflush(stdout) == 0 && ferror(stdout) == 0) return true;
    fprintf(stderr, "talvin-sign: %s could not be written to standard output: %s\n", what,
            strerror(errno));
    return false;
}

EVP_PKEY* read_key(const char* path, const char** why) {
    FILE* in = fopen(path, "rb");
    *why = "cannot be read";
    if (in == nullptr) return nullptr;
    // Whoever can read the key can sign as the publisher; whoever can write
    // it can put their own in its place.
    struct stat info;
    if (fstat(fileno(in), &info) == 0 &&
        (info.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0)
        terminal_printf(
            stderr,
            "talvin-sign: warning: %s: other accounts may read or write this private key "
            "(chmod 600 %s)\n",
            path, path);
    EVP_PKEY* key = read_signing_key(in, nullptr, why);
    fclose(in);
    return key;
}

// Base64 of `size` bytes into `text` (room for 4 * ceil(size / 3) + 1).
void put_base64(char* text, const unsigned char* bytes, size_t size) {
    EVP_EncodeBlock((unsigned char*)text, bytes, (int)size);
}

int print_public_key(EVP_PKEY* key) {
    char text[PUBLIC_LINE_TEXT];
    if (!public_key_line(key, text)) return fail("cannot write the public key", "key");
    printf("%s\n", text);
    return output_written("the public key") ? 0 : 1;
}

// True when a line of `bytes` is exactly "[signature]": the file is signed.
// The last line counts without its line end too: signing it again would put
// that header inside the signed part.
bool has_signature(const char* bytes, size_t size) {
    static const char HEADER[] = "[signature]";
    const size_t length = sizeof HEADER - 1;
    for (size_t at = 0; at + length <= size; at++) {
        if ((at > 0 && bytes[at - 1] != '\n') || memcmp(bytes + at, HEADER, length) != 0) continue;
        const char* after = bytes + at + length;
        size_t rest = size - at - length;
        if (rest == 0 || after[0] == '\n' || (rest > 1 && after[0] == '\r' && after[1] == '\n'))
            return true;
    }
    return false;
}

// "talvin:" and the base64url of `size` bytes, unpadded, into `text`;
// false when the link would be over the limit.
bool make_link(const unsigned char* bytes, size_t size, char* text) {
    put_base64(text, bytes, size);
    size_t length = strcspn(text, "=");
    if (sizeof "talvin:" - 1 + length > LINK_LENGTH_LIMIT) return false;
    for (size_t i = 0; i < length; i++)
        text[i] = text[i] == '+' ? '-' : text[i] == '/' ? '_' : text[i];
    text[length] = '\0';
    return true;
}

int close_and_fail(int fd, const char* what, const char* name) {
    close(fd);
    return fail(what, name);
}

int sign_file(EVP_PKEY* key, const char* path, bool link) {
    static char bytes[LAUNCH_FILE_CAP + 256];
    // Run as root, a file reached through another account's folder or link
    // is signed as that account: a link of theirs leads to no file of root's.
    char not_own[600];
    if (!platform_act_as_home_owner(path, 0, not_own, sizeof not_own)) return fail(not_own, path);
    // One descriptor reads the bytes signed and takes the section: a file
    // swapped in between gets no signature of another's bytes. Regular
    // files only, opened without waiting for a FIFO's writer.
    const int flags = O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = open(path, O_RDWR | flags);
    bool writable = fd >= 0;
    if (fd < 0) fd = open(path, O_RDONLY | flags);
    struct stat info;
    if (fd < 0) return fail("cannot be read", path);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return close_and_fail(fd, "cannot be read", path);
    size_t size = 0;
    ssize_t n = 1;
    while (size < LAUNCH_FILE_CAP + 1 &&
           (n = read(fd, bytes + size, LAUNCH_FILE_CAP + 1 - size)) != 0)
        if (n > 0)
            size += (size_t)n;
        else if (errno != EINTR)
            break;
    const char* refused = n < 0                        ? "cannot be read"
                          : size > LAUNCH_FILE_CAP     ? "larger than a launch file may be"
                          : has_signature(bytes, size) ? "already signed"
                          : !writable                  ? "cannot be written"
                                                       : nullptr;
    if (refused != nullptr) return close_and_fail(fd, refused, path);

    // The section starts a line of its own; a line end added here is signed.
    size_t added = 0;
    if (size > 0 && bytes[size - 1] != '\n') {
        memcpy(bytes + size, "\r\n", 2);
        added = 2;
    }
    unsigned char der[80];
    size_t der_size = sizeof der;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool signed_ok =
        context != nullptr &&
        EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
        EVP_DigestSign(context, der, &der_size, (unsigned char*)bytes, size + added) == 1;
    EVP_MD_CTX_free(context);
    if (!signed_ok) return close_and_fail(fd, "cannot be signed", path);

    char section[256];
    int length =
        snprintf(section, sizeof section, "%.*s[signature]\r\necdsa=", (int)added, bytes + size);
    put_base64(section + length, der, der_size);
    strcat(section, "\r\n");
    size_t section_size = strlen(section);
    // The link is made before the file changes: one too long is refused whole.
    static char link_text[4 * (LAUNCH_FILE_CAP + 256) / 3 + 8];
    memcpy(bytes + size, section, section_size);
    if (link && !make_link((const unsigned char*)bytes, size + section_size, link_text))
        return close_and_fail(fd, "signed, it would make a link over 4096 characters (not signed)",
                              path);
    // The file first, the link after: a link is printed only for a file
    // that holds its signature; one that changed since it was read, none.
    off_t unsigned_size = (off_t)size;
    if (fstat(fd, &info) != 0 || info.st_size != unsigned_size)
        return close_and_fail(fd, "changed while it was being signed (not signed)", path);
    const char* lost = nullptr;
    for (size_t done = 0; lost == nullptr && done < section_size;) {
        ssize_t n = write(fd, section + done, section_size - done);
        if (n > 0)
            done += (size_t)n;
        else if (n == 0 || errno != EINTR)
            lost = "cannot be written";
    }
    // On the disk before the link is printed: a close that fails could
    // otherwise leave the section in place with a failure said.
    if (lost == nullptr && fsync(fd) != 0) lost = "cannot be written";
    if (lost == nullptr && link) {
        printf("talvin:%s\n", link_text);
        if (fflush(stdout) != 0 || ferror(stdout) != 0)
            lost = "its link cannot be written to standard output";
    }
    // Half a section, or a signature whose link was lost, would make a
    // second run refuse the file as signed: the section is taken back.
    if (lost != nullptr) {
        int error = errno;
        bool undone = unsigned_size >= 0 && ftruncate(fd, unsigned_size) == 0;
        close(fd);
        terminal_printf(stderr, "talvin-sign: %s: %s: %s; %s\n", path, lost, strerror(error),
                        undone ? "the file was left unsigned"
                               : "the file may end in part of a signature section");
        return 1;
    }
    close(fd); // written and flushed
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    platform_hold_standard_streams();
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        puts("talvin-sign " LAUNCHER_VERSION);
        return output_written("the version") ? 0 : 1;
    }
    bool link = argc == 5 && strcmp(argv[3], "--link") == 0;
    if ((argc != 4 && !link) || strcmp(argv[1], "--key") != 0 ||
        (argc == 4 && strcmp(argv[3], "--link") == 0)) {
        fprintf(stderr, "usage: talvin-sign --key KEY.pem [--link] LAUNCH_FILE\n"
                        "       talvin-sign --key KEY.pem --public\n"
                        "       talvin-sign --version\n");
        return 2;
    }
    // A file size limit makes a write fail, which is undone, rather than
    // ending the program part way through the section.
    signal(SIGXFSZ, SIG_IGN);
    const char* why;
    EVP_PKEY* key = read_key(argv[2], &why);
    if (key == nullptr) return fail(why, argv[2]);
    int status = !link && strcmp(argv[3], "--public") == 0 ? print_public_key(key)
                                                           : sign_file(key, argv[argc - 1], link);
    EVP_PKEY_free(key);
    return status;
}
