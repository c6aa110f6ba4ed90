// SPDX-License-Identifier: Apache-2.0

// Arbitrary argument vectors (NUL-separated words) through the command line's checks, with the
// promises the store relies on:
// - the option is the leading digits' value, saturated at INT_MAX rather than wrapped;
// - an accepted identifier comes back from the identifier file, read by the real reader, as it
//   was stored, or, in the key-line form "ro.vendor.sku.skuid=VALUE", as VALUE, and never as
//   nothing.
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include <cutils/properties.h>

#include "command/arguments.h"
#include "store/sku_store.h"

namespace {

// The option as the leading digits' value, computed independently, saturated at INT_MAX.
long long reference_option(const char* text) {
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + (*text - '0');
        if (value > INT_MAX) return INT_MAX;
    }
    return value;
}

// What publication would read back after `identifier` was stored.
std::string read_back(const std::string& identifier) {
    int fd = memfd_create("skuid", 0);
    if (fd < 0) abort();
    if (write(fd, identifier.data(), identifier.size()) !=
        static_cast<ssize_t>(identifier.size())) {
        abort();
    }
    lseek(fd, 0, SEEK_SET);
    char out[PROPERTY_VALUE_MAX] = {};
    read_skuid_content(fd, identifier.size(), out);
    close(fd);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words = {"zel_init_sku"};
    std::string word;
    for (size_t i = 0; i < size; i++) {
        if (data[i] == '\0') {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    if (size > 0) words.push_back(word);
    std::vector<const char*> argv;
    for (const auto& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    int argc = static_cast<int>(words.size());

    if (option_refusal(argc, argv.data()) != nullptr) return 0;
    int option = parse_option(argv[1]);
    if (option < 0 || option != reference_option(argv[1])) abort();
    if (option != OPTION_STORE || identifier_refusal(argc, argv.data()) != nullptr) return 0;

    const std::string identifier = argv[2];
    if (argc != 3 || identifier == "0NULL") abort();
    const std::string key_line = std::string(SKUID_KEY) + "=";
    std::string published = read_back(identifier);
    bool as_stored = published == identifier;
    bool as_key_value = identifier.compare(0, key_line.size(), key_line) == 0 &&
                        published == identifier.substr(key_line.size());
    if (published.empty() || !(as_stored || as_key_value)) abort();
    return 0;
}
