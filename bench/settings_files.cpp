#include "settings_files.h"

#include <stdio.h>
#include <string.h>

#include <random>

namespace {

const char* const KEYS[] = {"path",     "command",    "title",   "wndclass", "wndname",
                            "missing",  "messages",   "product", "server",   "closeotherapps",
                            "autosave", "windowsize", "volume",  "language", "lastserver"};
const char VALUE_CHARS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                           " _-.:\\/";

class Writer {
  public:
    explicit Writer(FILE* out) : out_(out) {}
    void put(const std::string& text) {
        fwrite(text.data(), 1, text.size(), out_);
        written_ += text.size();
    }
    size_t written() const { return written_; }

  private:
    FILE* out_;
    size_t written_ = 0;
};

std::string value(std::mt19937& random, size_t length) {
    std::string text;
    std::uniform_int_distribution<size_t> pick(0, sizeof VALUE_CHARS - 2);
    for (size_t i = 0; i < length; i++)
        text += VALUE_CHARS[pick(random)];
    // A value never starts or ends with a blank, as a person would write it.
    text.front() = 'v';
    text.back() = 'e';
    return text;
}

// One key line as a person or an installer would write it.
void write_key_line(Writer& w, std::mt19937& random) {
    std::uniform_int_distribution<size_t> value_length(5, 80), key(0, 14);
    w.put(KEYS[key(random)]);
    w.put(key(random) < 2 ? " = " : "=");
    w.put(value(random, value_length(random)) + "\r\n");
}

void write_realistic(Writer& w, std::mt19937& random, size_t bytes) {
    std::uniform_int_distribution<size_t> lines(45, 55);
    w.put("; Products installed on this machine.\r\n[identification]\r\nuser=guest\r\n"
          "password=secret\r\n\r\n");
    for (unsigned section = 0; w.written() < bytes; section++) {
        w.put("[product" + std::to_string(section) + "]\r\n");
        for (size_t n = lines(random); n > 0; n--)
            write_key_line(w, random);
        w.put("\r\n");
    }
}

// Nothing to pass over: every line must be tokenised and applied.
void write_one_section(Writer& w, std::mt19937& random, size_t bytes) {
    w.put("[" + std::string(PRODUCT_SECTION) + "]\r\n");
    while (w.written() < bytes)
        write_key_line(w, random);
}

void write_long_lines(Writer& w, std::mt19937& random, size_t bytes) {
    std::uniform_int_distribution<size_t> value_length(4100, 12000), key(0, 14);
    for (unsigned section = 0; w.written() < bytes; section++) {
        w.put("[product" + std::to_string(section) + "]\r\n");
        for (int n = 0; n < 20; n++)
            w.put(std::string(KEYS[key(random)]) + "=" + value(random, value_length(random)) +
                  "\r\n");
    }
}

void write_short_lines(Writer& w, std::mt19937&, size_t bytes) {
    for (unsigned section = 0; w.written() < bytes; section++) {
        w.put("[s" + std::to_string(section % 100) + "]\r\n");
        for (int n = 0; n < 50; n++)
            w.put(n % 2 ? "k=v\r\n" : "ab=c\r\n");
    }
}

// Headers with a blank in the name, "[my product]": the first word holds no
// ']', though the line does.
void write_bad_headers(Writer& w, std::mt19937& random, size_t bytes) {
    std::uniform_int_distribution<size_t> length(5, 40);
    while (w.written() < bytes)
        w.put("[" + value(random, length(random)) + " " + value(random, length(random)) + "]\r\n");
}

} // namespace

const char* const PRODUCT_SECTION = "product7";

const char* kind_name(FileKind kind) {
    switch (kind) {
    case FileKind::Realistic:
        return "realistic";
    case FileKind::LongLines:
        return "long_lines";
    case FileKind::ShortLines:
        return "short_lines";
    case FileKind::OneSection:
        return "one_section";
    case FileKind::BadHeaders:
        return "bad_headers";
    }
    return "?";
}

bool write_settings_file(FileKind kind, size_t bytes, const std::string& path) {
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    std::mt19937 random(20240601);
    Writer w(out);
    switch (kind) {
    case FileKind::Realistic:
        write_realistic(w, random, bytes);
        break;
    case FileKind::LongLines:
        write_long_lines(w, random, bytes);
        break;
    case FileKind::ShortLines:
        write_short_lines(w, random, bytes);
        break;
    case FileKind::OneSection:
        write_one_section(w, random, bytes);
        break;
    case FileKind::BadHeaders:
        write_bad_headers(w, random, bytes);
        break;
    }
    return fclose(out) == 0;
}
