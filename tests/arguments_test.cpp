#include "command/arguments.h"

#include <limits.h>

#include <gtest/gtest.h>

// The option is taken as atoi would take it, except that it saturates instead of wrapping:
// "4294967297" must not become option 1 and store an identifier.
TEST(ParseOption, LeadingDigitsSaturatingAtIntMax) {
    struct Case {
        const char* text;
        int option;
    } cases[] = {
            {"0", 0},
            {"1", 1},
            {"01", 1},
            {"1abc", 1},
            {"2 3", 2},
            {"2147483640", 2147483640},
            {"2147483646", 2147483646},
            {"2147483647", INT_MAX},
            {"2147483648", INT_MAX},
            {"4294967297", INT_MAX},
            {"4294967296", INT_MAX},
            {"99999999999999999999999", INT_MAX},
            {"0000000000000000000001", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_option(c.text), c.option) << c.text;
    }
}
