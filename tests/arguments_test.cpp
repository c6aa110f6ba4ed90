// SPDX-License-Identifier: Apache-2.0

#include "command/arguments.h"

#include <limits.h>

#include <string>

#include <gtest/gtest.h>

#include "diag/utf8.h"

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

// The property service's rule for values, which the front end applies to an identifier before
// storing it and the host property store to every value: well-formed UTF-8, at each edge of the
// encoding.
TEST(Utf8, EdgesOfTheEncoding) {
    struct Case {
        const char* name;
        std::string text;
        bool valid;
    } cases[] = {
            {"ASCII", "abc", true},
            {"empty", "", true},
            {"last two-byte form, U+07FF", "\xdf\xbf", true},
            {"first three-byte form, U+0800", "\xe0\xa0\x80", true},
            {"last before the surrogates, U+D7FF", "\xed\x9f\xbf", true},
            {"first after the surrogates, U+E000", "\xee\x80\x80", true},
            {"first four-byte form, U+10000", "\xf0\x90\x80\x80", true},
            {"last code point, U+10FFFF", "\xf4\x8f\xbf\xbf", true},
            {"overlong two-byte", "\xc1\xbf", false},
            {"overlong three-byte", "\xe0\x9f\xbf", false},
            {"overlong four-byte", "\xf0\x8f\xbf\xbf", false},
            {"first surrogate", "\xed\xa0\x80", false},
            {"last surrogate", "\xed\xbf\xbf", false},
            {"above U+10FFFF", "\xf4\x90\x80\x80", false},
            {"five-byte lead", "\xf8\x88\x80\x80\x80", false},
            {"cut short at the end", "ab\xe2\x82", false},
            {"cut short before ASCII", "\xe2\x82z", false},
            {"stray continuation byte", "a\x80", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_utf8(c.text), c.valid) << c.name;
    }
}
