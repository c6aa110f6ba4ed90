// SPDX-License-Identifier: Apache-2.0

// The command line and the feature gate: every refusal, in its order, with its report.
#include <string>
#include <vector>

#include "device.h"

namespace {

std::string printed(const std::vector<LogRecord>& log) {
    std::string out;
    for (const auto& record : log) out += record.text;
    return out;
}

LogRecord E(const std::string& text) {
    return {'E', text};
}
LogRecord D(const std::string& text) {
    return {'D', text};
}

const std::string LONG_92(92, 'a');
const std::string LONG_91(91, 'a');

}  // namespace

class FrontEnd : public DeviceTest {};

// Roads that end in a report, with the switch on. Each report is logged and then printed, so
// standard output is the log's texts in order.
TEST_F(FrontEnd, RefusalsAreReportedInTheirFixedOrder) {
    struct Case {
        const char* name;
        bool feature_on;
        std::vector<std::string> args;
        std::vector<LogRecord> log;
        std::string step;  // "1": refused before the store folders were made; "2": after
    } cases[] = {
            {"no arguments", true, {}, {E("no parameter:Error\n")}, "1"},
            {"arguments before the gate", false, {}, {E("no parameter:Error\n")}, "1"},
            {"letter", true, {"x"}, {E("First parameter not digit, error\n")}, "1"},
            {"blank", true, {" 1", "a"}, {E("First parameter not digit, error\n")}, "1"},
            {"minus", true, {"-1"}, {E("First parameter not digit, error\n")}, "1"},
            {"plus", true, {"+1", "a"}, {E("First parameter not digit, error\n")}, "1"},
            {"empty option", true, {""}, {E("First parameter not digit, error\n")}, "1"},
            {"gate closed",
             false,
             {"1", "12345"},
             {E("skuid feature not enable, return 0.\n")},
             "1"},
            {"option 3",
             true,
             {"3"},
             {D(ROOT_MISSING), D(DIR_MISSING), E("Option type is: 3\n")},
             "2"},
            {"option 9 with words",
             true,
             {"9", "x", "y"},
             {D(ROOT_MISSING), D(DIR_MISSING), E("Option type is: 9\n")},
             "2"},
            {"wrapping number",
             true,
             {"4294967297", "12345"},
             {D(ROOT_MISSING), D(DIR_MISSING), E("Option type is: 2147483647\n")},
             "2"},
            {"reset not enabled",
             true,
             {"2"},
             {D(ROOT_MISSING), D(DIR_MISSING), E("Option type is: 2\n"),
              E("reset skuid not enable, return 0.\n")},
             "2"},
            {"store without identifier",
             true,
             {"1"},
             {D(ROOT_MISSING), D(DIR_MISSING), E("Option type is: 1\n"),
              E("Must be two parameters: Error\n")},
             "2"},
            {"store with two words",
             true,
             {"1", "a", "b"},
             {D(ROOT_MISSING), D(DIR_MISSING), E("Option type is: 1\n"),
              E("Must be two parameters: Error\n")},
             "2"},
            {"empty identifier",
             true,
             {"1", ""},
             {D(ROOT_MISSING), D(DIR_MISSING), E("Option type is: 1\n"),
              E("Second parameter was empty, error\n")},
             "2"},
            {"sentinel",
             true,
             {"1", "0NULL"},
             {D(ROOT_MISSING), D(DIR_MISSING), E("Option type is: 1\n"),
              E("Second parameter was invalid, error\n")},
             "2"},
            {"longer than the reader holds",
             true,
             {"1", LONG_92},
             {D(ROOT_MISSING), D(DIR_MISSING), E("Option type is: 1\n"),
              E("Second parameter was too long, error\n")},
             "2"},
            {"line feed",
             true,
             {"1", "123\n45"},
             {D(ROOT_MISSING), D(DIR_MISSING), E("Option type is: 1\n"),
              E("Second parameter had a line feed, error\n")},
             "2"},
            {"not UTF-8, so never publishable",
             true,
             {"1", "12\xff"},
             {D(ROOT_MISSING), D(DIR_MISSING), E("Option type is: 1\n"),
              E("Second parameter was not UTF-8, error\n")},
             "2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable();
        if (!c.feature_on) clear_prop("ro.vendor.sku.enable");

        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.log, c.log);
        EXPECT_EQ(r.out, printed(c.log));
        EXPECT_EQ(r.stray_err, "");
        EXPECT_EQ(prop("sys.vendor.sku.step"), c.step);
        EXPECT_EQ(is_dir(SKU_ROOT), c.step == "2");
        EXPECT_EQ(is_dir(SKUID_DIR_PATH), c.step == "2");
        EXPECT_FALSE(exists(SKUID_FILE_PATH));
    }
}

// Which option an argument vector comes to, seen by what it does to the store.
TEST_F(FrontEnd, OptionIsTheLeadingDigitsAndExtraWordsAreIgnored) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::optional<std::string> stored;  // the identifier file afterwards
    } cases[] = {
            {"1 followed by letters", {"1abc", "12345"}, "12345"},
            {"leading zero", {"01", "12345"}, "12345"},
            {"lower-case sentinel is an identifier", {"1", "0null"}, "0null"},
            {"91 characters fit", {"1", LONG_91}, LONG_91},
            {"UTF-8 beyond ASCII", {"1", "caf\xc3\xa9"}, "caf\xc3\xa9"},
            {"publish ignores extra words", {"0", "12345"}, std::nullopt},
            {"above INT_MAX does nothing", {"99999999999999999999", "12345"}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable(false);
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(read_file(SKUID_FILE_PATH), c.stored);
    }
}

// An accepted identifier comes back from the identifier file unchanged, or, for the key-line
// form "ro.vendor.sku.skuid=VALUE", as VALUE. One that would come back otherwise, or as nothing
// (which would also block every later store), is refused as invalid.
TEST_F(FrontEnd, IdentifiersHoldingTheKey) {
    const std::string KEY = "ro.vendor.sku.skuid";
    struct Case {
        std::string identifier;
        std::optional<std::string> published;  // nullopt: refused
    } cases[] = {
            {KEY + "=abc", "abc"},
            {KEY + "=a=b", "a=b"},
            {KEY + "=" + KEY, KEY},
            {KEY, KEY},
            {KEY + " tail", KEY + " tail"},
            {KEY + "=", std::nullopt},
            {"a=" + KEY, std::nullopt},
            {"x " + KEY + " = y", std::nullopt},
            {"x=" + KEY + "=y", std::nullopt},
            {KEY + " =y", std::nullopt},
            {" " + KEY + "=y", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.identifier);
        renew();
        enable();
        Outcome stored = run({"1", c.identifier});
        ASSERT_FALSE(stored.log.empty());
        reboot();
        run({"0"});
        if (c.published) {
            EXPECT_EQ(stored.log.back().text, "write skuid: 1.\n");
            EXPECT_EQ(read_file(SKUID_FILE_PATH), c.identifier);
        } else {
            EXPECT_EQ(stored.log.back(), E("Second parameter was invalid, error\n"));
            EXPECT_FALSE(exists(SKUID_FILE_PATH));
        }
        EXPECT_EQ(prop("ro.vendor.sku.skuid"), c.published);
    }
}

// Removal ignores extra words too, once resetting is enabled.
TEST_F(FrontEnd, RemovalIgnoresExtraWords) {
    enable(false);
    set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
    run({"1", "12345"});
    ASSERT_TRUE(exists(SKUID_FILE_PATH));
    EXPECT_EQ(run({"2", "extra", "words"}).status, 0);
    EXPECT_FALSE(exists(SKUID_DIR_PATH));
    EXPECT_TRUE(is_dir(SKU_ROOT));
}

// With the switch off, every road is silent and writes no marker.
TEST_F(FrontEnd, SilentWithTheSwitchOff) {
    std::vector<std::vector<std::string>> roads = {
            {},        {"x"},          {"3"},          {"2"},          {"1"},
            {"1", ""}, {"1", "0NULL"}, {"1", "12345"}, {"1", "again"}, {"0"},
    };
    for (const char* value : {"", "no", "Yes", "YES", "yes ", " yes", "1", "true", "yess"}) {
        SCOPED_TRACE(std::string("debug=\"") + value + "\"");
        renew();
        enable(false);
        if (*value != '\0') set_prop("sys.vendor.sku.debug", value);
        for (const auto& args : roads) {
            Outcome r = run(args);
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(r.log.empty());
            EXPECT_EQ(r.stray_err, "");
        }
        EXPECT_EQ(prop("sys.vendor.sku.step"), std::nullopt);
        // The roads still did their work: the store and the publication happened.
        EXPECT_EQ(read_file(SKUID_FILE_PATH), "12345");
        EXPECT_EQ(prop("ro.vendor.sku.skuid"), "12345");
    }
}

// With the gate closed nothing is created, whatever the option.
TEST_F(FrontEnd, ClosedGateCreatesNothing) {
    for (const char* gate : {"", "no", "yes\n", "YES"}) {
        SCOPED_TRACE(gate);
        if (*gate != '\0') set_prop("ro.vendor.sku.enable", gate);
        for (const char* option : {"0", "1", "2", "3"}) {
            run({option, "12345"});
        }
        EXPECT_EQ(list_dir("/data/misc"), std::vector<std::string>{});
        EXPECT_EQ(prop("ro.vendor.sku.skuid"), std::nullopt);
    }
}
