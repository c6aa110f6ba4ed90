// SPDX-License-Identifier: Apache-2.0

// The host property store keeps the device's rules, so that what passes on a host would pass
// on a device.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

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

// Whatever stands in the property folder, a run never hangs on it (nor on a lock held on it for
// ever), and a set killed part-way leaves only the one temporary that the next set reuses.
TEST_F(HostProperties, NoHangAndNoStrays) {
    int held = open((device_ + "/properties").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    EXPECT_EQ(set("sys.held", "v"), "-1") << "a set behind a lock held for ever";
    close(held);
    EXPECT_EQ(set("sys.held", "v"), "0");

    ASSERT_EQ(mkfifo((device_ + "/properties/sys.fifo").c_str(), 0644), 0);
    EXPECT_EQ(get("sys.fifo"), "4:null");

    ASSERT_EQ(mkfifo((device_ + "/properties/.set").c_str(), 0644), 0);
    EXPECT_EQ(set("sys.x", "first"), "-1") << "a FIFO at the temporary's name";
    EXPECT_EQ(set("sys.x", "second"), "0") << "the failed set cleared it";
    EXPECT_EQ(prop("sys.x"), "second");

    RunOptions killed;
    killed.wrapper = {"strace", "-f",
                      "-o",     "/dev/null",
                      "-e",     "trace=write",
                      "-e",     "inject=write:signal=KILL:when=1",
                      "-P",     "/dev/__properties__/.set"};
    std::vector<std::string> command = killed.wrapper;
    for (const auto& word : built(PROPERTY_PROBE)) command.push_back(word);
    command.insert(command.end(), {"set", "ro.y", "value"});
    EXPECT_EQ(run_program(command).status, 128 + 9);
    EXPECT_EQ(prop("ro.y"), std::nullopt);
    EXPECT_EQ(set("ro.y", "value"), "0");
    EXPECT_EQ(list_dir("/properties"),
              (std::vector<std::string>{"ro.y", "sys.fifo", "sys.held", "sys.x"}));
}
