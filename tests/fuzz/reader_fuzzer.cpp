// SPDX-License-Identifier: Apache-2.0

// Arbitrary bytes as the identifier file's content, read with the debug switch on (so that every
// report is formatted), checked against what publication relies on:
// - the value fits a property value: at most PROPERTY_VALUE_MAX - 1 bytes, never past the buffer;
// - the last line decides: the value is what a plain model of the file's lines says, whole, or
//   cut to its first bytes when it is longer;
// - a cut never splits a character: a UTF-8 value stays UTF-8, and loses only the character
//   that did not fit.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include <cutils/properties.h>

#include "diag/diag.h"
#include "diag/utf8.h"
#include "store/sku_store.h"

namespace {

// The value the file gives, by the format's rules, before any cut: the file is taken in pieces
// of at most 199 bytes that end after a line feed; a piece reads as text up to its first NUL; a
// piece holding the key gives what follows its first "=" (or itself, without one); any other
// non-empty piece is the value whole; the last piece that gives a value decides.
std::string model_value(std::string_view content) {
    std::string value;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = start;
        while (end < content.size() && end - start < 199 &&
               (end == start || content[end - 1] != '\n')) {
            end++;
        }
        std::string piece(content.substr(start, end - start));
        piece = piece.c_str();  // up to its first NUL
        start = end;
        if (piece.find(SKUID_KEY) != std::string::npos) {
            size_t equals = piece.find('=');
            value = equals == std::string::npos ? piece : piece.substr(equals + 1);
        } else if (!piece.empty()) {
            value = piece;
        }
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sku_debug = true;
    // The reports are printed; keep them off the fuzzer's console.
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > SKUID_FILE_MAX) return 0;  // never read: see the reader's bound
    int fd = memfd_create("skuid", 0);
    if (fd < 0) abort();
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) abort();
    lseek(fd, 0, SEEK_SET);
    // The value is read into a buffer of exactly a property value's size, so that
    // AddressSanitizer sees any write past it.
    char* out = static_cast<char*>(calloc(1, PROPERTY_VALUE_MAX));
    read_skuid_content(fd, size, out);
    close(fd);

    std::string_view content(reinterpret_cast<const char*>(data), size);
    std::string expected = model_value(content);
    std::string_view value(out, strnlen(out, PROPERTY_VALUE_MAX));
    if (value.size() > PROPERTY_VALUE_MAX - 1) abort();
    if (expected.size() <= PROPERTY_VALUE_MAX - 1) {
        if (value != expected) abort();
    } else {
        if (expected.compare(0, value.size(), value) != 0) abort();
        if (is_utf8(expected) && (!is_utf8(value) || value.size() + 3 < PROPERTY_VALUE_MAX - 1)) {
            abort();
        }
    }
    free(out);
    return 0;
}
