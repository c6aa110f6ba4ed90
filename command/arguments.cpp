// SPDX-License-Identifier: Apache-2.0

#include "command/arguments.h"

#include <limits.h>
#include <string.h>

#include <string_view>

#include <cutils/properties.h>

#include "diag/utf8.h"
#include "store/sku_store.h"

namespace {

// What the reader can give back: a property value's characters, without the NUL.
constexpr size_t IDENTIFIER_MAX = PROPERTY_VALUE_MAX - 1;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The reader gives a line holding SKUID_KEY back as what follows its first "=". So an identifier
// holding the key comes back as it was stored only when it has no "="; in the key-line form
// "ro.vendor.sku.skuid=VALUE" it comes back as VALUE, which a factory tool may rely on, unless
// VALUE is empty. Any other would be published changed, or not at all while it still blocked
// every later store.
bool comes_back_from_the_file(std::string_view identifier) {
    std::string_view key(SKUID_KEY);
    if (identifier.find(key) == std::string_view::npos) return true;
    size_t equals = identifier.find('=');
    if (equals == std::string_view::npos) return true;
    return identifier.substr(0, equals) == key && equals + 1 < identifier.size();
}

}  // namespace

const char* option_refusal(int argc, const char* const* argv) {
    if (argc < 2) return "no parameter:Error\n";
    if (!is_digit(argv[1][0])) return "First parameter not digit, error\n";
    return nullptr;
}

int parse_option(const char* text) {
    int option = 0;
    for (; is_digit(*text); text++) {
        int digit = *text - '0';
        if (option > (INT_MAX - digit) / 10) return INT_MAX;
        option = option * 10 + digit;
    }
    return option;
}

const char* identifier_refusal(int argc, const char* const* argv) {
    if (argc != 3) return "Must be two parameters: Error\n";
    const char* identifier = argv[2];
    if (identifier[0] == '\0') return "Second parameter was empty, error\n";
    if (strcmp(identifier, "0NULL") == 0) return "Second parameter was invalid, error\n";
    // The reader gives back at most a property value's worth of characters, and only the
    // file's last line: anything longer, or on two lines, would be published cut or garbled.
    if (strlen(identifier) > IDENTIFIER_MAX) return "Second parameter was too long, error\n";
    if (strchr(identifier, '\n') != nullptr) return "Second parameter had a line feed, error\n";
    // The property service refuses a value that is not UTF-8: such an identifier would be
    // stored and then never published.
    if (!is_utf8(identifier)) return "Second parameter was not UTF-8, error\n";
    if (!comes_back_from_the_file(identifier)) return "Second parameter was invalid, error\n";
    return nullptr;
}
