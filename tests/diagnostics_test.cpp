// SPDX-License-Identifier: Apache-2.0

// The diagnostic channel: the pair's order, the step markers, and the publish road's reports.
#include <regex>
#include <string>
#include <vector>

#include "device.h"
#include "strace.h"

namespace {

// Standard output and standard error in one stream, with each log header shortened to its
// priority, so that the order of printed lines and log records can be read off.
std::string interleaved(const Outcome& run) {
    return std::regex_replace(run.out, log_header(), "[$1] ");
}

}  // namespace

class Diagnostics : public DeviceTest {};

// Each report is logged and then printed, except the reader's two, which print first; the
// "read carrierid" record has no line feed while its printed line has a trailing blank; and a
// value ending in a line feed prints it where the value stands.
TEST_F(Diagnostics, PairOrderAndTexts) {
    enable();
    store_file("ro.vendor.sku.skuid=12345\n");

    RunOptions merged;
    merged.merged_output = true;
    Outcome r = run({"0"}, merged);
    // The log library ends every record with a line feed of its own.
    EXPECT_EQ(interleaved(r),
              "[D] The carrier sku folder : /data/misc/sku exist.\n\n"
              "The carrier sku folder : /data/misc/sku exist.\n"
              "[D] The carrier sku folder : /data/misc/sku/skuid exist.\n\n"
              "The carrier sku folder : /data/misc/sku/skuid exist.\n"
              "[E] Option type is: 0\n\n"
              "Option type is: 0\n"
              "[E] read carrierid\n"
              "read carrierid \n"
              "str_end1 is 12345\n \n"
              "[E] str_end1 is 12345\n \n\n"
              "prop_value is 12345\n\n"
              "[E] prop_value is 12345\n\n\n");
    EXPECT_EQ(prop("ro.vendor.sku.skuid"), "12345\n");
    EXPECT_EQ(prop("sys.vendor.sku.step"), "10");
}

// Every marker a road writes, in order, seen as the values the property store is handed (a
// published identifier among them): a marker that a later one overwrites shows nowhere else.
TEST_F(Diagnostics, MarkersOfEachRoadInOrder) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        void (*arrange)(Diagnostics&);
        std::vector<std::string> written;
    } cases[] = {
            {"refused argument", {"x"}, [](Diagnostics&) {}, {"1"}},
            {"first store",
             {"1", "12345"},
             [](Diagnostics&) {},
             {"1", "2", "2", "11", "3", "3", "8", "14"}},
            {"root cannot be made",
             {"0"},
             [](Diagnostics& d) { d.write_file(SKU_ROOT, "x"); },
             {"1", "2", "4", "14"}},
            {"identifier folder cannot be made",
             {"0"},
             [](Diagnostics& d) {
                 d.make_dir(SKU_ROOT);
                 d.write_file(SKUID_DIR_PATH, "x");
             },
             {"1", "3", "2", "5", "14"}},
            {"publication",
             {"0"},
             [](Diagnostics& d) { d.store_file("12345"); },
             {"1", "3", "3", "7", "10", "12345"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable();
        c.arrange(*this);
        RunOptions options;
        options.wrapper = traced("write", "/dev/__properties__/.set");
        Outcome r = run(c.args, options);
        std::vector<std::string> written;
        for (const auto& call : parse_trace(r.trace)) {
            if (call.name == "write" && call.arguments.size() > 1) {
                written.push_back(call.arguments[1].strings.at(0));
            }
        }
        EXPECT_EQ(written, c.written);
    }
}

// The marker left in "sys.vendor.sku.step" by each road: the last one written on it.
TEST_F(Diagnostics, LastStepMarkerOfEachRoad) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool stored_before;
        std::string step;
    } cases[] = {
            {"refused argument", {"x"}, false, "1"},
            {"first store", {"1", "12345"}, false, "14"},
            {"refused second store", {"1", "67890"}, true, "10"},
            {"publish", {"0"}, true, "10"},
            {"publish with nothing stored", {"0"}, false, "8"},
            {"removal", {"2"}, true, "3"},
            {"nothing to do", {"5"}, true, "3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable();
        set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
        if (c.stored_before) {
            store_file("12345");
        }
        run(c.args);
        EXPECT_EQ(prop("sys.vendor.sku.step"), c.step);
    }
}

// A store directory that cannot be made ends the run with marker "14" and the front end's
// report, after the message that names the directory.
TEST_F(Diagnostics, DirectoryFailureMarker) {
    enable();
    write_file(SKU_ROOT, "not a directory");
    Outcome r = run({"0"});
    EXPECT_EQ(r.log, (std::vector<LogRecord>{
                             {'D', ROOT_MISSING},
                             {'D', "create sku folder : /data/misc/sku to failed.\n"},
                             {'E', "make sku dir: Error\n"},
                     }));
    EXPECT_EQ(prop("sys.vendor.sku.step"), "14");
    EXPECT_EQ(read_file(SKU_ROOT), "not a directory");
}
