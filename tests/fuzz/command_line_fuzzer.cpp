// Arbitrary argument vectors (NUL-separated words) through the command line's checks, with the
// invariants that the store relies on.
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "command/arguments.h"

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

    // An accepted identifier is one the reader can give back exactly.
    const char* identifier = argv[2];
    size_t length = strlen(identifier);
    if (argc != 3 || length == 0 || length > 91 || strchr(identifier, '\n') != nullptr ||
        strcmp(identifier, "0NULL") == 0) {
        abort();
    }
    return 0;
}
