// SPDX-License-Identifier: Apache-2.0

// The identifier file's reader.
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include <string_view>

#include <android-base/unique_fd.h>
#include <cutils/properties.h>

#include "diag/diag.h"
#include "store/files.h"
#include "store/sku_store.h"

namespace {

// The file is taken in chunks, as fgets into a 200-byte buffer takes it: up to and including a
// line feed, or 199 characters, or what is left at the end. A longer line is several chunks,
// each replacing the value in turn.
constexpr size_t CHUNK_MAX = 200;

// Reads from the file go through a buffer this size; an identifier file takes one read.
constexpr size_t BLOCK_SIZE = 4096;

bool is_continuation_byte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// `out` holds PROPERTY_VALUE_MAX bytes. A longer value (a chunk may be 199 characters) is cut
// rather than allowed to overrun it, and cut before a character that would not fit whole: the
// property service refuses a value that is not UTF-8, so a split character would publish
// nothing at all. A character is at most four bytes, so the cut moves back three at most.
void copy_value(char* out, std::string_view value) {
    size_t length = value.size();
    if (length > PROPERTY_VALUE_MAX - 1) {
        length = PROPERTY_VALUE_MAX - 1;
        for (int k = 0; k < 3 && length > 0 && is_continuation_byte(value[length]); k++) length--;
    }
    memcpy(out, value.data(), length);
    out[length] = '\0';
}

// One chunk, NUL-terminated where it ends. Like a string that fgets gave, it ends at its first
// NUL, if it holds one.
void take_chunk(const char* chunk, char* out) {
    std::string_view line(chunk);
    if (line.find(SKUID_KEY) != std::string_view::npos) {
        // A property-file line: the value follows the first "=", wherever it stands.
        std::string_view value = line;
        size_t equals = line.find('=');
        if (equals != std::string_view::npos) value.remove_prefix(equals + 1);
        // The value runs to the end of the chunk, so it is NUL-terminated where it stands.
        sku_report_print_first(ANDROID_LOG_ERROR, "str_end1 is %s \n", value.data());
        copy_value(out, value);
    } else if (!line.empty()) {
        copy_value(out, line);
    }
}

}  // namespace

void read_skuid_content(int fd, size_t size, char* out) {
    char block[BLOCK_SIZE];
    char chunk[CHUNK_MAX];
    size_t chunk_length = 0;
    // What fstat found, and never more than the bound: a file that grows while it is read is
    // read as it was.
    size_t left = size < SKUID_FILE_MAX ? size : SKUID_FILE_MAX;
    while (left > 0) {
        ssize_t n = read(fd, block, left < sizeof(block) ? left : sizeof(block));
        if (n < 0) {
            // A read error ends the file like its end does: the values read so far stand, but
            // not the piece of a line cut short by the error.
            chunk_length = 0;
            break;
        }
        if (n == 0) break;  // the file shrank
        left -= static_cast<size_t>(n);
        const char* end = block + n;
        for (const char* p = block; p < end;) {
            size_t take = CHUNK_MAX - 1 - chunk_length;
            if (take > static_cast<size_t>(end - p)) take = static_cast<size_t>(end - p);
            const char* line_feed = static_cast<const char*>(memchr(p, '\n', take));
            if (line_feed != nullptr) take = static_cast<size_t>(line_feed - p) + 1;
            memcpy(chunk + chunk_length, p, take);
            chunk_length += take;
            p += take;
            if (line_feed != nullptr || chunk_length == CHUNK_MAX - 1) {
                chunk[chunk_length] = '\0';
                take_chunk(chunk, out);
                chunk_length = 0;
            }
        }
    }
    if (chunk_length > 0) {
        chunk[chunk_length] = '\0';
        take_chunk(chunk, out);
    }
    sku_report_print_first(ANDROID_LOG_ERROR, "prop_value is %s\n", out);
}

bool g_sku_id(char* out) {
    off_t size = 0;
    android::base::unique_fd fd = open_regular_file(SKUID_FILE, &size);
    // No store writes more than an identifier, so a file past the bound is not one: init waits
    // for publication on every boot, and reading gigabytes would hold the boot up.
    if (fd.ok() && size > static_cast<off_t>(SKUID_FILE_MAX)) fd.reset();
    if (!fd.ok()) {
        set_step("8");
        sku_report(ANDROID_LOG_ERROR, "open sku folder %s :FAILED\n", SKUID_FILE);
        return false;
    }
    read_skuid_content(fd.get(), static_cast<size_t>(size), out);
    fd.reset();
    set_step("10");
    return true;
}
