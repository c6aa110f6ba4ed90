// SPDX-License-Identifier: Apache-2.0

// The store's directories, the identifier file's reader (seen through publication), removal,
// and the identifier's life across runs.
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "device.h"

class Store : public DeviceTest {
  public:
    // A fresh device with the debug switch on, resetting enabled and both store folders.
    void renew_for_removal() {
        renew();
        enable();
        set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
        make_store_dirs();
    }
};

// Preparing the directories (option 5 does nothing else).
TEST_F(Store, Directories) {
    const std::string ROOT_FAILED = "create sku folder : /data/misc/sku to failed.\n";
    const std::string DIR_FAILED = "create sku folder : /data/misc/sku/skuid to failed.\n";
    const LogRecord DIR_ERROR = {'E', "make sku dir: Error\n"};
    const LogRecord OPTION = {'E', "Option type is: 5\n"};
    const std::vector<LogRecord> MISSING_MADE = {{'D', ROOT_MISSING}, {'D', DIR_MISSING}, OPTION};
    const std::vector<LogRecord> ROOT_NOT_MADE = {
            {'D', ROOT_MISSING}, {'D', ROOT_FAILED}, DIR_ERROR};
    const std::vector<LogRecord> DIR_NOT_MADE = {
            {'D', ROOT_EXISTS}, {'D', DIR_MISSING}, {'D', DIR_FAILED}, DIR_ERROR};
    struct Case {
        const char* name;
        std::vector<std::string> folders = {};  // made first, in order
        std::string file = {};                  // a plain file here
        std::string link = {};                  // a link here, to link_target
        std::string link_target = {};
        bool no_data_misc = false;
        std::vector<LogRecord> log = {};
        bool prepared = false;
    } cases[] = {
            {.name = "both present",
             .folders = {SKU_ROOT, SKUID_DIR_PATH},
             .log = {{'D', ROOT_EXISTS}, {'D', DIR_EXISTS}, OPTION},
             .prepared = true},
            {.name = "neither present", .log = MISSING_MADE, .prepared = true},
            {.name = "root is a plain file", .file = SKU_ROOT, .log = ROOT_NOT_MADE},
            {.name = "identifier folder is a plain file",
             .folders = {SKU_ROOT},
             .file = SKUID_DIR_PATH,
             .log = DIR_NOT_MADE},
            {.name = "no /data/misc", .no_data_misc = true, .log = ROOT_NOT_MADE},
            {.name = "root is a link to a folder",
             .folders = {"/data/misc/elsewhere"},
             .link = SKU_ROOT,
             .link_target = "elsewhere",
             .log = {{'D', ROOT_EXISTS}, {'D', DIR_MISSING}, OPTION},
             .prepared = true},
            {.name = "identifier folder is a link to a folder",
             .folders = {SKU_ROOT, "/data/misc/elsewhere"},
             .link = SKUID_DIR_PATH,
             .link_target = "../elsewhere",
             .log = {{'D', ROOT_EXISTS}, {'D', DIR_EXISTS}, OPTION},
             .prepared = true},
            {.name = "identifier folder is a dangling link",
             .folders = {SKU_ROOT},
             .link = SKUID_DIR_PATH,
             .link_target = "nowhere",
             .log = DIR_NOT_MADE},
            {.name = "root is a dangling link",
             .link = SKU_ROOT,
             .link_target = "nowhere",
             .log = ROOT_NOT_MADE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable();
        for (const auto& folder : c.folders) make_dir(folder);
        if (!c.file.empty()) write_file(c.file, "x");
        if (!c.link.empty()) symlink_at(c.link_target, c.link);
        if (c.no_data_misc) rmdir(host_path("/data/misc").c_str());
        Outcome r = run({"5"});
        EXPECT_EQ(r.log, c.log);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(is_dir(SKUID_DIR_PATH), c.prepared);
    }
}

// The command runs under whatever umask its caller has (init's services run under 077, a
// shell under 022). The folders it makes and the file it stores get exactly 0755 all the same:
// a folder made without its owner's write or search bit would fail this store and every later
// one, and no option could repair it. Run as the store's owner, with no capabilities to
// override a folder's mode, as on a device.
TEST_F(Store, ModesUnderAnyUmask) {
    for (const char* umask : {"022", "077", "0277", "0222", "000"}) {
        SCOPED_TRACE(umask);
        renew();
        enable(false);
        RunOptions options = as_owner();
        options.wrapper = {"sh", "-c", std::string("umask ") + umask + " && exec \"$@\"", "sh"};
        run({"1", "12345"}, options);
        EXPECT_EQ(mode_of(SKU_ROOT), 0755u);
        EXPECT_EQ(mode_of(SKUID_DIR_PATH), 0755u);
        EXPECT_EQ(read_file(SKUID_FILE_PATH), "12345");
        EXPECT_EQ(mode_of(SKUID_FILE_PATH), 0755u);

        // Later runs under the same umask find the store usable.
        set_prop("sys.vendor.sku.force.reset", "yes");
        run({"1", "67890"}, options);
        EXPECT_EQ(read_file(SKUID_FILE_PATH), "67890");
    }
}

// A folder the command finds keeps the mode it has: only what it made is given 0755.
TEST_F(Store, FoundFoldersKeepTheirMode) {
    enable(false);
    make_dir(SKU_ROOT, 0750);
    make_dir(SKUID_DIR_PATH, 0700);
    run({"1", "12345"}, as_owner());
    EXPECT_EQ(read_file(SKUID_FILE_PATH), "12345");
    EXPECT_EQ(mode_of(SKU_ROOT), 0750u);
    EXPECT_EQ(mode_of(SKUID_DIR_PATH), 0700u);
}

// What publication reads out of each form of identifier file. The reader takes the file in
// chunks of at most 199 characters; the last chunk with anything in it decides the value, and a
// chunk holding the key "ro.vendor.sku.skuid" gives what follows its first "=".
TEST_F(Store, ReaderAndPublication) {
    const std::string KEY = "ro.vendor.sku.skuid";
    const std::string A199(199, 'a');
    const std::string V150(150, 'v');
    const std::string A90(90, 'a');
    const std::string A89(89, 'a');
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
            // The property service refuses a value that is not UTF-8: a value is cut before a
            // character that would not fit whole.
            {"cut before a split two-byte character", KEY + "=" + A90 + "\xc3\xa9", A90,
             "str_end1 is " + A90 + "\xc3\xa9 \nprop_value is " + A90 + "\n"},
            {"cut before a split three-byte character", A89 + "\xe2\x82\xac", A89,
             "prop_value is " + A89 + "\n"},
            {"a whole character at the cut stays", A89 + "\xc3\xa9x", A89 + "\xc3\xa9",
             "prop_value is " + A89 + "\xc3\xa9\n"},
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

// init waits for publication on every boot, so the identifier file is read only when it is no
// larger than SKUID_FILE_MAX (64 KiB, hundreds of times any identifier file). A larger file is
// not an identifier file: nothing is published, a store counts it as stored, and a removal
// removes it. A sparse 64 GiB file would take minutes to read.
TEST_F(Store, IdentifierFileSizeBound) {
    struct Case {
        const char* name;
        std::string content;
        off_t size;  // the file is extended (sparse) to this size
        std::optional<std::string> published;
    } cases[] = {
            {"64 KiB exactly", std::string(65531, '\n') + "\nLAST", 65536, "LAST"},
            {"one byte more", std::string(65532, '\n') + "\nLAST", 65537, std::nullopt},
            {"a sparse 64 GiB file", "LAST", off_t{64} << 30, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable();
        set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
        store_file(c.content);
        ASSERT_EQ(truncate(host_path(SKUID_FILE_PATH).c_str(), c.size), 0);

        Outcome published = run({"0"});
        EXPECT_EQ(prop("ro.vendor.sku.skuid"), c.published);
        EXPECT_EQ(prop("sys.vendor.sku.step"), c.published ? "10" : "8");
        Outcome store = run({"1", "NEW"});
        ASSERT_FALSE(store.log.empty());
        EXPECT_EQ(store.log.back().text, "write skuid: 0.\n");
        run({"2"});
        EXPECT_FALSE(exists(SKUID_FILE_PATH));
        EXPECT_EQ(published.status, 0);
    }
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
        renew_for_removal();
        for (const auto& name : c.files) write_file(SKUID_DIR_PATH + "/" + name, "12345");

        Outcome r = run({"2"});
        EXPECT_EQ(texts(r.log),
                  (std::vector<std::string>{ROOT_EXISTS, DIR_EXISTS, "Option type is: 2\n"}));
        EXPECT_EQ(is_dir(SKUID_DIR_PATH), c.folder_stays);
        EXPECT_EQ(list_dir(SKUID_DIR_PATH), c.left);
        EXPECT_TRUE(is_dir(SKU_ROOT));
    }
}

// Whatever a store counts as stored, a removal removes, without opening or following it:
// otherwise it would block every store until a forced reset. Only a folder with something in
// it stays (a removal deletes no tree). Run as the store's owner, for whom a file of mode 0 is
// unreadable, as on a device.
TEST_F(Store, RemovalClearsWhatBlocksAStore) {
    struct Case {
        const char* name;
        void (*plant)(Store&);
        bool removed;
    } cases[] = {
            {"an unreadable file", [](Store& s) { s.write_file(SKUID_FILE_PATH, "OLD", 0); }, true},
            {"an empty file", [](Store& s) { s.write_file(SKUID_FILE_PATH, ""); }, true},
            {"a FIFO",
             [](Store& s) { ASSERT_EQ(mkfifo(s.host_path(SKUID_FILE_PATH).c_str(), 0644), 0); },
             true},
            {"a socket",
             [](Store& s) {
                 int fd = socket(AF_UNIX, SOCK_STREAM, 0);
                 sockaddr_un address = {};
                 address.sun_family = AF_UNIX;
                 std::string path = s.host_path(SKUID_FILE_PATH);
                 ASSERT_LT(path.size(), sizeof(address.sun_path));
                 memcpy(address.sun_path, path.c_str(), path.size());
                 ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
                 close(fd);
             },
             true},
            {"a link to a file elsewhere",
             [](Store& s) {
                 s.write_file("/data/misc/target", "precious");
                 s.symlink_at("/data/misc/target", SKUID_FILE_PATH);
             },
             true},
            {"a dangling link", [](Store& s) { s.symlink_at("nowhere", SKUID_FILE_PATH); }, true},
            {"an empty folder", [](Store& s) { s.make_dir(SKUID_FILE_PATH); }, true},
            {"a folder with something in it",
             [](Store& s) {
                 s.make_dir(SKUID_FILE_PATH);
                 s.write_file(SKUID_FILE_PATH + "/inside", "x");
             },
             false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew_for_removal();
        c.plant(*this);
        RunOptions owner = as_owner();

        Outcome blocked = run({"1", "NEW"}, owner);
        ASSERT_FALSE(blocked.log.empty()) << blocked.stray_err;
        EXPECT_EQ(blocked.log.back().text, "write skuid: 0.\n") << "a store counts it as stored";

        run({"2"}, owner);
        EXPECT_EQ(exists(SKUID_FILE_PATH), !c.removed);
        EXPECT_EQ(exists(SKUID_DIR_PATH), !c.removed);
        if (exists("/data/misc/target")) {
            EXPECT_EQ(read_file("/data/misc/target"), "precious") << "the link was followed";
        }
        if (c.removed) {
            Outcome later = run({"1", "NEW"}, owner);
            ASSERT_FALSE(later.log.empty());
            EXPECT_EQ(later.log.back().text, "write skuid: 1.\n");
            EXPECT_EQ(read_file(SKUID_FILE_PATH), "NEW");
            // The property service lets the command set its properties, whoever it runs as.
            EXPECT_EQ(prop("sys.vendor.sku.step"), "14");
        }
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
