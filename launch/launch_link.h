// talvin: links: a launch file's bytes carried in base64url after the scheme
// name, so that a web page starts a product with one click and no download.
#pragma once

#include "platform/platform.h"

enum {
    LINK_LENGTH_LIMIT = 4096, // characters of a whole link, "talvin:" included
    // The decoded bytes of the longest link: 4089 characters give 3066 bytes.
    LINK_BYTES_CAP = 3072,
};

enum LinkVerdict {
    LINK_DECODED,
    LINK_TOO_LONG,      // longer than LINK_LENGTH_LIMIT
    LINK_NOT_BASE64URL, // a character, or a length, that no base64url text has
    LINK_EMPTY,         // decodes to no byte at all
    LINK_NOT_STORED,    // decoded, but no private file could be written for it
};

struct DecodedLink {
    LinkVerdict verdict;
    unsigned size;   // bytes in `bytes`
    unsigned bad_at; // LINK_NOT_BASE64URL: offset in the link of the first wrong character
    unsigned length; // characters of the link as given (quotes not counted)
    unsigned char bytes[LINK_BYTES_CAP];
};

// 1 when the argument text is a link: "talvin:" (letters in any case),
// optionally inside double quotes as a Windows shell hands it over.
int is_link(const char* arguments);

// Decodes the link in `arguments` (is_link is true) into `link`.
void decode_link(const char* arguments, DecodedLink* link);

// The text of the box that refuses a link, for every verdict but LINK_DECODED.
const char* link_refusal(LinkVerdict verdict);

// 1 when `name` is one the launcher gives the files of links (see
// LINK_FILE_NAME_LENGTH): only those are ever removed from their folder.
bool is_link_file_name(const char* name);

// Runs the launch sequence on the launch file a link carries: its bytes are
// written into a new file of the launcher's own in the private folder, whose
// path the product is then handed. A link that cannot be decoded or stored
// shows one box and starts nothing. The settings folders are those of
// run_layered_launch.
void launch_from_link(platform_window owner, const char* system_dir, const char* settings_dir,
                      const char* arguments);
