// SPDX-License-Identifier: Apache-2.0

// Storing an identifier (option 1).
#include <regex>
#include <string>
#include <vector>

#include "device.h"

class Writer : public DeviceTest {};

TEST_F(Writer, FirstStore) {
    enable();
    Outcome r = run({"1", "12345"});
    ASSERT_EQ(r.log.size(), 8u);
    EXPECT_EQ(std::vector<LogRecord>(r.log.begin(), r.log.begin() + 6),
              (std::vector<LogRecord>{{'D', ROOT_MISSING},
                                      {'D', DIR_MISSING},
                                      {'E', "Option type is: 1\n"},
                                      {'D', ROOT_EXISTS},
                                      {'D', DIR_EXISTS},
                                      {'E', FILE_MISSING}}));
    EXPECT_EQ(r.log[6].priority, 'D');
    EXPECT_TRUE(std::regex_match(r.log[6].text, std::regex("open skuid fp: [0-9]+\\.\n")))
            << r.log[6].text;
    EXPECT_EQ(r.log[7], (LogRecord{'D', "write skuid: 1.\n"}));
    EXPECT_EQ(prop("sys.vendor.sku.step"), "14");
    EXPECT_EQ(read_file(SKUID_FILE_PATH), "12345");
    EXPECT_EQ(mode_of(SKUID_FILE_PATH), 0755u);
    EXPECT_EQ(list_dir(SKUID_DIR_PATH), std::vector<std::string>{"skuid.prop"});
}

// A stored identifier, even an empty file, is replaced only when "sys.vendor.sku.force.reset"
// reads exactly "yes".
TEST_F(Writer, SecondStoreNeedsTheForcedReset) {
    struct Case {
        const char* name;
        std::string before;
        std::optional<std::string> force;
        std::string after;
        std::string result;
    } cases[] = {
            {"refused", "LONGER-OLD-ID", std::nullopt, "LONGER-OLD-ID", "write skuid: 0.\n"},
            {"empty file blocks", "", std::nullopt, "", "write skuid: 0.\n"},
            {"force not exactly yes", "OLD", "Yes", "OLD", "write skuid: 0.\n"},
            {"force with a blank", "OLD", "yes ", "OLD", "write skuid: 0.\n"},
            {"forced, shorter", "LONGER-OLD-ID", "yes", "NEW", "write skuid: 1.\n"},
            {"forced over empty", "", "yes", "NEW", "write skuid: 1.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable();
        store_file(c.before);
        if (c.force) set_prop("sys.vendor.sku.force.reset", *c.force);
        Outcome r = run({"1", "NEW"});
        EXPECT_EQ(r.log.back(), (LogRecord{'D', c.result}));
        EXPECT_EQ(read_file(SKUID_FILE_PATH), c.after);
        EXPECT_EQ(mode_of(SKUID_FILE_PATH), 0755u);
        EXPECT_EQ(prop("sys.vendor.sku.step"), c.result == "write skuid: 1.\n" ? "14" : "10");
    }
}

// An identifier is stored exactly as given; what publication makes of it follows the reader's
// rules for key lines.
TEST_F(Writer, IdentifierStoredUnchanged) {
    struct Case {
        std::string identifier;
        std::string published;
    } cases[] = {
            {"12 34", "12 34"},
            {"a=b", "a=b"},
            {" lead and trail ", " lead and trail "},
            {"ro.vendor.sku.skuid=y", "y"},
            {"ro.vendor.sku.skuid", "ro.vendor.sku.skuid"},
            {"0null", "0null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.identifier);
        renew();
        enable(false);
        run({"1", c.identifier});
        EXPECT_EQ(read_file(SKUID_FILE_PATH), c.identifier);
        run({"0"});
        EXPECT_EQ(prop("ro.vendor.sku.skuid"), c.published);
    }
}

// What a store that died can leave at the temporary's name is cleared by the next store, not
// in its way.
TEST_F(Writer, LeftOverTemporaryDoesNotBlock) {
    struct Case {
        const char* name;
        void (*leave)(Writer&);
    } cases[] = {
            {"a half-written file", [](Writer& w) { w.write_file(SKUID_TEMP_PATH, "half", 0600); }},
            {"an empty folder", [](Writer& w) { w.make_dir(SKUID_TEMP_PATH); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable(false);
        make_store_dirs();
        c.leave(*this);
        run({"1", "12345"});
        EXPECT_EQ(read_file(SKUID_FILE_PATH), "12345");
        EXPECT_EQ(list_dir(SKUID_DIR_PATH), std::vector<std::string>{"skuid.prop"});
    }
}

// When a property value buffer cannot be allocated: a store says "malloc error" whatever the
// switch says, and still refuses to replace a stored identifier unless forced; publication
// says "malloc error return " only with the switch on, and publishes nothing. Neither logs it.
TEST_F(Writer, AllocationFailure) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool debug = false;
        std::optional<std::string> before = {};
        bool forced = false;
        std::optional<std::string> after = {};
        std::string out_tail = {};  // the end of standard output
    } cases[] = {
            {.name = "store, nothing stored",
             .args = {"1", "NEW"},
             .after = "NEW",
             .out_tail = "malloc error\n"},
            {.name = "store over a stored one",
             .args = {"1", "NEW"},
             .before = "OLD",
             .after = "OLD",
             .out_tail = "malloc error\n"},
            {.name = "forced store over a stored one",
             .args = {"1", "NEW"},
             .before = "OLD",
             .forced = true,
             .after = "NEW",
             .out_tail = "malloc error\n"},
            {.name = "store, switch on",
             .args = {"1", "NEW"},
             .debug = true,
             .before = "OLD",
             .after = "OLD",
             .out_tail = "malloc error\nwrite skuid: 0.\n"},
            {.name = "publication, switch on",
             .args = {"0"},
             .debug = true,
             .before = "OLD",
             .after = "OLD",
             .out_tail = "read carrierid \nmalloc error return \n"},
            {.name = "publication, switch off", .args = {"0"}, .before = "OLD", .after = "OLD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable(c.debug);
        if (c.before) store_file(*c.before);
        if (c.forced) set_prop("sys.vendor.sku.force.reset", "yes");
        RunOptions options;
        options.preload = FAIL_PROPERTY_BUFFER;
        Outcome r = run(c.args, options);
        EXPECT_EQ(r.status, 0);
        ASSERT_GE(r.out.size(), c.out_tail.size()) << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - c.out_tail.size()), c.out_tail);
        if (!c.debug) {
            EXPECT_EQ(r.out, c.out_tail);
        }
        for (const auto& text : texts(r.log)) EXPECT_EQ(text.find("malloc"), std::string::npos);
        EXPECT_EQ(read_file(SKUID_FILE_PATH), c.after);
        EXPECT_EQ(prop("ro.vendor.sku.skuid"), std::nullopt);
        EXPECT_EQ(r.stray_err, "");
    }
}

// A link planted at the identifier file's path is replaced by the new file, never followed:
// the store must not write through it to wherever it points.
TEST_F(Writer, SymlinkAtTheFileIsReplacedNotFollowed) {
    struct Case {
        const char* name;
        bool target_exists;
    } cases[] = {{"dangling link", false}, {"link to a file", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable(false);
        set_prop("sys.vendor.sku.force.reset", "yes");
        make_store_dirs();
        if (c.target_exists) write_file("/data/misc/target", "precious");
        symlink_at("/data/misc/target", SKUID_FILE_PATH);
        run({"1", "12345"});
        EXPECT_EQ(read_file(SKUID_FILE_PATH), "12345");
        EXPECT_EQ(mode_of(SKUID_FILE_PATH), 0755u);
        EXPECT_EQ(read_file("/data/misc/target"),
                  c.target_exists ? std::optional<std::string>("precious") : std::nullopt);
    }
}
