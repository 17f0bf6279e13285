// Generated settings files for measuring readers: the same bytes every run.
#pragma once

#include <stddef.h>
#include <string>

enum class FileKind {
    Realistic,  // sections of about 50 key lines, values of 5 to 80 characters, CR LF
    LongLines,  // key lines longer than the reader's 4094-character line
    ShortLines, // key lines of a few characters
    OneSection, // realistic key lines, all in the one product section (product7)
    BadHeaders, // nothing but section headers without ']', as a hostile page may serve
};

// The product section that the readers measured take as `app`.
extern const char* const PRODUCT_SECTION;

// Every kind, in the order of the benchmark's table.
const FileKind FILE_KINDS[] = {FileKind::Realistic, FileKind::LongLines, FileKind::ShortLines,
                               FileKind::OneSection, FileKind::BadHeaders};

const char* kind_name(FileKind kind);

// Writes about `bytes` bytes of `kind` to `path`. Returns false when the
// file cannot be written.
bool write_settings_file(FileKind kind, size_t bytes, const std::string& path);
