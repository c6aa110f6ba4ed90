// What a store does when the system fails under it: a full or read-only partition, an error
// or a kill at each of its system calls, files and links where they should not be, missing
// rights, and other runs at the same time. Whatever happens, the stored identifier is the old
// one or the new one, whole; "write skuid: 1." is reported only when the new one is on disk;
// and nothing is left behind that blocks a later store.
#include <string>
#include <vector>

#include "device.h"

namespace {

const std::string OLD = "OLD-IDENTIFIER";
const std::string NEW = "NEW-IDENTIFIER";
const std::string STORED = "write skuid: 1.\n";
const std::string REFUSED = "write skuid: 0.\n";
// rename(2) is renameat(2) on AArch64, and qemu may make either of them renameat2(2).
const std::string RENAME = "rename,renameat,renameat2";

// strace, run inside the sandbox, making one of the store's system calls (a comma-separated
// set of names) on `path` fail with `action` ("error=EIO", "signal=KILL").
std::vector<std::string> inject(const std::string& syscall, const std::string& action,
                                const std::string& path = SKUID_TEMP_PATH) {
    return {"strace", "-f",
            "-o",     "/dev/null",
            "-P",     path,
            "-e",     "trace=" + syscall,
            "-e",     "inject=" + syscall + ":" + action};
}

}  // namespace

class Faults : public DeviceTest {
  public:
    // A device with the debug switch on, the directories made and, unless `before` is empty,
    // an identifier stored and a forced reset asked for.
    void prepare(const std::optional<std::string>& before) {
        enable();
        make_store_dirs();
        if (before) {
            write_file(SKUID_FILE_PATH, *before, 0755);
            set_prop("sys.vendor.sku.force.reset", "yes");
        }
    }

    // After any fault, an ordinary forced store must succeed and leave nothing else behind.
    void expect_later_store_succeeds() {
        set_prop("sys.vendor.sku.force.reset", "yes");
        Outcome later = run({"1", "LATER"});
        EXPECT_EQ(later.log.back().text, STORED);
        EXPECT_EQ(read_file(SKUID_FILE_PATH), "LATER");
        EXPECT_EQ(list_dir(SKUID_DIR_PATH), std::vector<std::string>{"skuid.prop"});
    }
};

TEST_F(Faults, StoreFaultMatrix) {
    // A 64 KiB partition of which the stored identifier takes one page and a filler the rest.
    const std::vector<std::string> FULL = {"--size", "65536"};
    struct Case {
        const char* name;
        std::optional<std::string> before;  // stored before (then the store is forced)
        std::vector<std::string> sandbox;
        std::vector<std::string> wrapper;
        std::optional<std::string> after;   // the identifier file afterwards
        std::optional<std::string> report;  // the last report, when the run was not killed
    } cases[] = {
            {"full partition, first store", std::nullopt, FULL, {}, std::nullopt, REFUSED},
            {"full partition, forced store", OLD, FULL, {}, OLD, REFUSED},
            {"write fails", std::nullopt, {}, inject("write", "error=EIO"), std::nullopt, REFUSED},
            {"write fails, forced", OLD, {}, inject("write", "error=ENOSPC"), OLD, REFUSED},
            {"mode cannot be set", OLD, {}, inject("fchmod", "error=EPERM"), OLD, REFUSED},
            {"fsync fails", OLD, {}, inject("fsync", "error=EIO"), OLD, REFUSED},
            {"close fails", OLD, {}, inject("close", "error=EIO"), OLD, REFUSED},
            {"rename fails", OLD, {}, inject(RENAME, "error=EIO"), OLD, REFUSED},
            // The new file is in place but may not survive a power cut: not reported stored.
            {"folder sync fails",
             OLD,
             {},
             inject("fsync", "error=EIO", SKUID_DIR_PATH),
             NEW,
             REFUSED},
            {"killed at open", OLD, {}, inject("openat", "signal=KILL"), OLD, std::nullopt},
            {"killed at write", OLD, {}, inject("write", "signal=KILL"), OLD, std::nullopt},
            {"killed at fchmod", OLD, {}, inject("fchmod", "signal=KILL"), OLD, std::nullopt},
            {"killed at fsync", OLD, {}, inject("fsync", "signal=KILL"), OLD, std::nullopt},
            {"killed at close", OLD, {}, inject("close", "signal=KILL"), OLD, std::nullopt},
            {"killed at rename", OLD, {}, inject(RENAME, "signal=KILL"), OLD, std::nullopt},
            {"killed at folder sync",
             OLD,
             {},
             inject("fsync", "signal=KILL", SKUID_DIR_PATH),
             NEW,
             std::nullopt},
            {"killed at first store's rename",
             std::nullopt,
             {},
             inject(RENAME, "signal=KILL"),
             std::nullopt,
             std::nullopt},
            {"read-only partition", std::nullopt, {"--read-only"}, {}, std::nullopt, REFUSED},
            {"read-only partition, forced", OLD, {"--read-only"}, {}, OLD, REFUSED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        prepare(c.before);
        if (c.sandbox == FULL) {
            write_file("/data/filler", std::string(65536 - (c.before ? 4096 : 0), 'f'));
        }
        RunOptions options;
        options.sandbox = c.sandbox;
        options.wrapper = c.wrapper;
        Outcome r = run({"1", NEW}, options);

        EXPECT_EQ(read_file(SKUID_FILE_PATH), c.after);
        if (c.report) {
            ASSERT_FALSE(r.log.empty());
            EXPECT_EQ(r.log.back().text, *c.report);
        } else {
            EXPECT_EQ(r.status, 128 + 9) << "the fault did not strike";
        }
        if (c.after == NEW) {
            EXPECT_EQ(mode_of(SKUID_FILE_PATH), 0755u);
        }
        if (c.sandbox == FULL) unlink(host_path("/data/filler").c_str());
        expect_later_store_succeeds();
    }
}

// A store on a read-only partition cannot open its file, and says so.
TEST_F(Faults, ReadOnlyPartitionReportsTheFailedOpen) {
    prepare(std::nullopt);
    RunOptions options;
    options.sandbox = {"--read-only"};
    Outcome r = run({"1", NEW}, options);
    ASSERT_GE(r.log.size(), 2u);
    EXPECT_EQ(r.log[r.log.size() - 2].text,
              "write skuid: " + NEW + " to /data/misc/sku/skuid/skuid.prop failed.\n");
    EXPECT_EQ(prop("sys.vendor.sku.step"), "14");
}

// Another run may create a store folder between this run's probe and its mkdir. The probe of
// SKUID_DIR is made to miss the folder that is there, as if it had just been created; the
// mkdir's EEXIST then means the folder is there, not that preparing it failed.
TEST_F(Faults, FolderMadeByAnotherRunBetweenProbeAndMkdir) {
    prepare(std::nullopt);
    RunOptions race;
    race.wrapper = inject("openat", "error=ENOENT:when=1", SKUID_DIR_PATH);
    Outcome r = run({"1", NEW}, race);
    ASSERT_GE(r.log.size(), 3u);
    EXPECT_EQ(r.log[1].text, DIR_MISSING) << "the probe did not miss";
    EXPECT_EQ(r.log[2].text, "Option type is: 1\n");
    EXPECT_EQ(r.log.back().text, STORED);
    EXPECT_EQ(read_file(SKUID_FILE_PATH), NEW);
}

// Things in the way of the identifier file.
TEST_F(Faults, IdentifierPathTakenByADirectory) {
    prepare(OLD);
    unlink(host_path(SKUID_FILE_PATH).c_str());
    make_dir(SKUID_FILE_PATH);
    Outcome r = run({"1", NEW});
    EXPECT_EQ(r.log.back().text, REFUSED);
    EXPECT_TRUE(is_dir(SKUID_FILE_PATH));
    EXPECT_EQ(list_dir(SKUID_DIR_PATH), std::vector<std::string>{"skuid.prop"});
}

// An identifier file the process may not read still counts as stored: a store leaves it, and
// removal leaves it.
TEST_F(Faults, UnreadableIdentifierFileIsKept) {
    prepare(std::nullopt);
    set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
    write_file(SKUID_FILE_PATH, OLD, 0);
    RunOptions unprivileged;
    unprivileged.sandbox = {"--uid", "1000"};

    Outcome store = run({"1", NEW}, unprivileged);
    EXPECT_EQ(store.log.back().text, REFUSED);
    run({"2"}, unprivileged);
    EXPECT_EQ(read_file(SKUID_FILE_PATH), OLD);
    EXPECT_EQ(mode_of(SKUID_FILE_PATH), 0u);
}

// Of several first stores at once, exactly one wins and the others are refused, and the file
// holds the winner's identifier.
TEST_F(Faults, ConcurrentFirstStores) {
    prepare(std::nullopt);
    constexpr int RUNS = 8;
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        unlink(host_path(SKUID_FILE_PATH).c_str());
        // Each run pauses after finding nothing stored, just before it starts writing, so that
        // the runs overlap where, without the lock, they would all go on to store.
        RunOptions slow;
        slow.wrapper = inject("unlink,unlinkat", "delay_enter=200000");
        std::vector<pid_t> pids;
        for (int i = 0; i < RUNS; i++) {
            pids.push_back(start({"1", "ID-" + std::to_string(i)}, slow, i));
        }
        std::vector<std::string> winners;
        for (int i = 0; i < RUNS; i++) {
            Outcome r = finish(pids[i], i);
            ASSERT_FALSE(r.log.empty());
            if (r.log.back().text == STORED) winners.push_back("ID-" + std::to_string(i));
        }
        ASSERT_EQ(winners.size(), 1u);
        EXPECT_EQ(read_file(SKUID_FILE_PATH), winners[0]);
    }
}

// A publication running beside forced stores reads the old identifier or the new one, whole.
TEST_F(Faults, PublicationBesideStores) {
    const std::string A(91, 'a');
    const std::string B(91, 'b');
    prepare(A);
    constexpr int ROUNDS = 12;
    // The store pauses before its rename, and the publication before it reads, so that the
    // publication reads while the new file is being written.
    RunOptions slow_store;
    slow_store.wrapper = inject(RENAME, "delay_enter=50000");
    RunOptions slow_publish;
    slow_publish.wrapper = inject("openat", "delay_exit=50000", SKUID_FILE_PATH);
    for (int i = 0; i < ROUNDS; i++) {
        pid_t store = start({"1", i % 2 ? A : B}, slow_store, 0);
        pid_t publish = start({"0"}, slow_publish, 1);
        finish(store, 0);
        Outcome published = finish(publish, 1);
        ASSERT_FALSE(published.log.empty());
        std::string last = published.log.back().text;
        EXPECT_TRUE(last == "prop_value is " + A + "\n" || last == "prop_value is " + B + "\n")
                << last;
    }
}
