// The host property store keeps the device's rules, so that what passes on a host would pass
// on a device.
#include <string>

#include "command/arguments.h"

#include "device.h"

class HostProperties : public DeviceTest {
  protected:
    std::string probe(const std::vector<std::string>& args) {
        std::vector<std::string> command = built(PROPERTY_PROBE);
        command.insert(command.end(), args.begin(), args.end());
        return run_program(command).out;
    }
    std::string set(const std::string& name, const std::string& value) {
        return probe({"set", name, value});
    }
    std::string get(const std::string& name) {
        return probe({"get", name});
    }
};

TEST_F(HostProperties, SetChecksNameAndValue) {
    struct Case {
        std::string name;
        std::string value;
        bool accepted;
    } cases[] = {
            {"sys.a-b_c@1.X", "v", true},
            {"", "v", false},
            {".sys.a", "v", false},
            {"sys.a.", "v", false},
            {"sys..a", "v", false},
            {"sys/a", "v", false},
            {"..", "v", false},
            {"sys.a b", "v", false},
            {"sys.a:b", "v", false},
            {"sys.long91", std::string(91, 'v'), true},
            {"sys.long92", std::string(92, 'v'), false},
            {"ro.long200", std::string(200, 'v'), true},
            {"sys.utf8", "caf\xc3\xa9 \xf0\x9f\x98\x80", true},
            {"sys.bad1", "\xff", false},
            {"sys.bad2", "\xc0\x80", false},          // overlong
            {"sys.bad3", "\xed\xa0\x80", false},      // surrogate
            {"sys.bad4", "\xe2\x82", false},          // cut short
            {"sys.bad5", "\xf4\x90\x80\x80", false},  // above U+10FFFF
            {"sys.newline", "a\nb", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(set(c.name, c.value), c.accepted ? "0" : "-1");
        if (c.accepted) {
            EXPECT_EQ(prop(c.name), c.value);
        } else if (!c.name.empty() && c.name.find('/') == std::string::npos && c.name != "..") {
            EXPECT_EQ(prop(c.name), std::nullopt);
        }
    }
    // Nothing but the accepted properties was written, and no temporary was left.
    EXPECT_EQ(list_dir("/properties").size(), 5u);
}

TEST_F(HostProperties, ReadOnlyPropertiesAreWriteOnce) {
    EXPECT_EQ(set("ro.x", "first"), "0");
    EXPECT_EQ(set("ro.x", "second"), "-1");
    EXPECT_EQ(prop("ro.x"), "first");
    EXPECT_EQ(set("sys.x", "first"), "0");
    EXPECT_EQ(set("sys.x", "second"), "0");
    EXPECT_EQ(prop("sys.x"), "second");
}

TEST_F(HostProperties, GetGivesAtMost91BytesOrTheDefault) {
    set_prop("sys.set", "value");
    set_prop("sys.empty", "");
    set_prop("ro.long", std::string(200, 'v'));
    EXPECT_EQ(get("sys.set"), "5:value");
    EXPECT_EQ(get("sys.missing"), "4:null");
    EXPECT_EQ(get("sys.empty"), "4:null");
    EXPECT_EQ(get("ro.long"), "91:" + std::string(91, 'v'));
    EXPECT_EQ(get("../properties/sys.set"), "4:null");
}

// The property service refuses a value that is not UTF-8, so the front end refuses such an
// identifier rather than store one that could never be published: the two must draw the line
// in the same place, at each edge of the encoding.
TEST_F(HostProperties, FrontEndAndPropertyStoreAgreeOnUtf8) {
    struct Case {
        const char* name;
        std::string text;
        bool valid;
    } cases[] = {
            {"ASCII", "abc", true},
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
        SCOPED_TRACE(c.name);
        const char* argv[] = {"zel_init_sku", "1", c.text.c_str(), nullptr};
        const char* refusal = identifier_refusal(3, argv);
        EXPECT_EQ(refusal == nullptr, c.valid) << (refusal ? refusal : "accepted");
        if (!c.valid) {
            EXPECT_STREQ(refusal, "Second parameter was not UTF-8, error\n");
        }
        EXPECT_EQ(set("sys.utf8", c.text), c.valid ? "0" : "-1");
    }
}
