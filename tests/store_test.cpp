// The store's directories, the identifier file's reader (seen through publication), removal,
// and the identifier's life across runs.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "device.h"

class Store : public DeviceTest {};

// Preparing the directories (option 5 does nothing else).
TEST_F(Store, Directories) {
    const std::string ROOT_FAILED = "create sku folder : /data/misc/sku to failed.\n";
    const std::string DIR_FAILED = "create sku folder : /data/misc/sku/skuid to failed.\n";
    const LogRecord DIR_ERROR = {'E', "make sku dir: Error\n"};
    const LogRecord OPTION = {'E', "Option type is: 5\n"};
    struct Case {
        const char* name;
        void (*arrange)(Store&);
        std::vector<LogRecord> log;
        bool prepared;
    } cases[] = {
            {"both present",
             [](Store& s) { s.make_store_dirs(); },
             {{'D', ROOT_EXISTS}, {'D', DIR_EXISTS}, OPTION},
             true},
            {"neither present",
             [](Store&) {},
             {{'D', ROOT_MISSING}, {'D', DIR_MISSING}, OPTION},
             true},
            {"root is a plain file",
             [](Store& s) { s.write_file(SKU_ROOT, "x"); },
             {{'D', ROOT_MISSING}, {'D', ROOT_FAILED}, DIR_ERROR},
             false},
            {"identifier folder is a plain file",
             [](Store& s) {
                 s.make_dir(SKU_ROOT);
                 s.write_file(SKUID_DIR_PATH, "x");
             },
             {{'D', ROOT_EXISTS}, {'D', DIR_MISSING}, {'D', DIR_FAILED}, DIR_ERROR},
             false},
            {"no /data/misc",
             [](Store& s) { rmdir(s.host_path("/data/misc").c_str()); },
             {{'D', ROOT_MISSING}, {'D', ROOT_FAILED}, DIR_ERROR},
             false},
            {"root is a link to a folder",
             [](Store& s) {
                 s.make_dir("/data/misc/elsewhere");
                 s.symlink_at("elsewhere", SKU_ROOT);
             },
             {{'D', ROOT_EXISTS}, {'D', DIR_MISSING}, OPTION},
             true},
            {"identifier folder is a link to a folder",
             [](Store& s) {
                 s.make_dir(SKU_ROOT);
                 s.make_dir("/data/misc/elsewhere");
                 s.symlink_at("../elsewhere", SKUID_DIR_PATH);
             },
             {{'D', ROOT_EXISTS}, {'D', DIR_EXISTS}, OPTION},
             true},
            {"identifier folder is a dangling link",
             [](Store& s) {
                 s.make_dir(SKU_ROOT);
                 s.symlink_at("nowhere", SKUID_DIR_PATH);
             },
             {{'D', ROOT_EXISTS}, {'D', DIR_MISSING}, {'D', DIR_FAILED}, DIR_ERROR},
             false},
            {"root is a dangling link",
             [](Store& s) { s.symlink_at("nowhere", SKU_ROOT); },
             {{'D', ROOT_MISSING}, {'D', ROOT_FAILED}, DIR_ERROR},
             false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable();
        c.arrange(*this);
        Outcome r = run({"5"});
        EXPECT_EQ(r.log, c.log);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(is_dir(SKUID_DIR_PATH), c.prepared);
    }
}

// The folders follow the umask, as init's services run under 077 and a shell under 022; the
// identifier file's mode is exactly 0755 whatever the umask.
TEST_F(Store, ModesUnderTheUmask) {
    struct Case {
        const char* umask;
        mode_t folders;
    } cases[] = {{"022", 0755}, {"077", 0700}, {"000", 0755}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.umask);
        renew();
        enable(false);
        RunOptions options;
        options.wrapper = {"sh", "-c", std::string("umask ") + c.umask + " && exec \"$@\"", "sh"};
        run({"1", "12345"}, options);
        EXPECT_EQ(mode_of(SKU_ROOT), c.folders);
        EXPECT_EQ(mode_of(SKUID_DIR_PATH), c.folders);
        EXPECT_EQ(mode_of(SKUID_FILE_PATH), 0755u);
    }
}

// What publication reads out of each form of identifier file. The reader takes the file in
// chunks of at most 199 characters; the last chunk with anything in it decides the value, and a
// chunk holding the key "ro.vendor.sku.skuid" gives what follows its first "=".
TEST_F(Store, ReaderAndPublication) {
    const std::string KEY = "ro.vendor.sku.skuid";
    const std::string A199(199, 'a');
    const std::string V150(150, 'v');
    struct Case {
        const char* name;
        std::string content;
        std::optional<std::string> published;
        std::string reader_out;  // what the reader printed
    } cases[] = {
            {"bare form", "12345", "12345", "prop_value is 12345\n"},
            {"key line", KEY + "=12345\n", "12345\n",
             "str_end1 is 12345\n \nprop_value is 12345\n\n"},
            {"last line wins", "111\n222", "222", "prop_value is 222\n"},
            {"key line then blank line", KEY + "=111\n\n", "\n",
             "str_end1 is 111\n \nprop_value is \n\n"},
            {"key line without =", KEY + "\n", KEY + "\n",
             "str_end1 is " + KEY + "\n \nprop_value is " + KEY + "\n\n"},
            {"earlier = before the key", "a=b " + KEY + "=c\n", "b " + KEY + "=c\n",
             "str_end1 is b " + KEY + "=c\n \nprop_value is b " + KEY + "=c\n\n"},
            {"empty value at the end", "111\n" + KEY + "=", std::nullopt,
             "str_end1 is  \nprop_value is \n"},
            {"empty file", "", std::nullopt, "prop_value is \n"},
            {"blanks and carriage return kept", " 12 34\r", " 12 34\r", "prop_value is  12 34\r\n"},
            {"long line in chunks", A199 + "bbb", "bbb", "prop_value is bbb\n"},
            {"value cut at 91", std::string(150, 'c'), std::string(91, 'c'),
             "prop_value is " + std::string(91, 'c') + "\n"},
            {"key value cut at 91", KEY + "=" + V150, std::string(91, 'v'),
             "str_end1 is " + V150 + " \nprop_value is " + std::string(91, 'v') + "\n"},
            {"key straddling two chunks", std::string(190, 'x') + KEY + "=5", ".sku.skuid=5",
             "prop_value is .sku.skuid=5\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable();
        store_file(c.content);
        Outcome r = run({"0"});
        EXPECT_EQ(prop("ro.vendor.sku.skuid"), c.published);
        std::string head = ROOT_EXISTS + DIR_EXISTS + "Option type is: 0\nread carrierid \n";
        EXPECT_EQ(r.out, head + c.reader_out);
        EXPECT_EQ(prop("sys.vendor.sku.step"), "10");
        EXPECT_EQ(read_file(SKUID_FILE_PATH), c.content) << "reading changed the file";
    }
}

TEST_F(Store, PublishWithNothingStored) {
    enable();
    Outcome r = run({"0"});
    EXPECT_EQ(prop("ro.vendor.sku.skuid"), std::nullopt);
    EXPECT_EQ(r.log.back(), (LogRecord{'E', FILE_MISSING}));
    EXPECT_EQ(prop("sys.vendor.sku.step"), "8");
}

// Removal (option 2 with resetting enabled) reports nothing and leaves SKU_ROOT_DIR.
TEST_F(Store, Removal) {
    struct Case {
        const char* name;
        std::vector<std::string> files;  // in SKUID_DIR before
        std::vector<std::string> left;   // in SKUID_DIR after; empty: the folder is gone
        bool folder_stays;
    } cases[] = {
            {"stored identifier", {"skuid.prop"}, {}, false},
            {"nothing stored", {}, {}, true},
            {"a neighbour keeps the folder", {"skuid.prop", "other"}, {"other"}, true},
            {"a left-over temporary goes too", {"skuid.prop", "skuid.prop.tmp"}, {}, false},
            {"a temporary alone is not an identifier",
             {"skuid.prop.tmp"},
             {"skuid.prop.tmp"},
             true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable();
        set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
        make_store_dirs();
        for (const auto& name : c.files) write_file(SKUID_DIR_PATH + "/" + name, "12345");

        Outcome r = run({"2"});
        EXPECT_EQ(texts(r.log),
                  (std::vector<std::string>{ROOT_EXISTS, DIR_EXISTS, "Option type is: 2\n"}));
        EXPECT_EQ(is_dir(SKUID_DIR_PATH), c.folder_stays);
        EXPECT_EQ(list_dir(SKUID_DIR_PATH), c.left);
        EXPECT_TRUE(is_dir(SKU_ROOT));
    }
}

// The identifier's life across runs (and reboots, which forget the published property).
TEST_F(Store, LifeCycle) {
    enable(false);
    set_prop("ro.vendor.sku.skuid.reset.enable", "yes");

    run({"0"});
    EXPECT_EQ(prop("ro.vendor.sku.skuid"), std::nullopt) << "nothing stored yet";

    run({"1", "FIRST"});
    run({"0"});
    EXPECT_EQ(prop("ro.vendor.sku.skuid"), "FIRST");

    run({"1", "SECOND"});
    EXPECT_EQ(read_file(SKUID_FILE_PATH), "FIRST") << "a second store is refused";
    reboot();
    run({"0"});
    EXPECT_EQ(prop("ro.vendor.sku.skuid"), "FIRST") << "published again on the next boot";

    set_prop("sys.vendor.sku.force.reset", "yes");
    run({"1", "THIRD"});
    EXPECT_EQ(read_file(SKUID_FILE_PATH), "THIRD") << "a forced store replaces it";
    clear_prop("sys.vendor.sku.force.reset");

    run({"2"});
    EXPECT_FALSE(exists(SKUID_DIR_PATH));
    EXPECT_EQ(prop("ro.vendor.sku.skuid"), "FIRST") << "removal leaves the property";

    run({"1", "FOURTH"});
    reboot();
    run({"0"});
    EXPECT_EQ(prop("ro.vendor.sku.skuid"), "FOURTH") << "stored again after removal";
}
