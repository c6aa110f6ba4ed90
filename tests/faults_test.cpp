// SPDX-License-Identifier: Apache-2.0

// What a store does when the system fails under it: a full or read-only partition, an error
// or a kill at each of its system calls, files and links where they should not be, missing
// rights, and other runs at the same time. Whatever happens, the stored identifier is the old
// one or the new one, whole; "write skuid: 1." is reported only when the new one is on disk;
// and nothing is left behind that blocks a later store.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "device.h"
#include "strace.h"

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
};

TEST_F(Faults, StoreFaultMatrix) {
    // A 64 KiB partition of which the stored identifier takes one page and a filler the rest.
    const std::vector<std::string> FULL = {"--size", "65536"};
    struct Case {
        const char* name;
        std::optional<std::string> before = {};  // stored before (then the store is forced)
        std::vector<std::string> sandbox = {};
        std::vector<std::string> wrapper = {};
        std::optional<std::string> after = {};   // the identifier file afterwards
        std::optional<std::string> report = {};  // the last report; none: the fault kills the run
        bool temporary_left = false;             // a kill left the temporary beside it
    } cases[] = {
            {.name = "full partition, first store", .sandbox = FULL, .report = REFUSED},
            {.name = "full partition, forced store",
             .before = OLD,
             .sandbox = FULL,
             .after = OLD,
             .report = REFUSED},
            {.name = "write fails", .wrapper = inject("write", "error=EIO"), .report = REFUSED},
            {.name = "write fails, forced",
             .before = OLD,
             .wrapper = inject("write", "error=ENOSPC"),
             .after = OLD,
             .report = REFUSED},
            {.name = "mode cannot be set",
             .before = OLD,
             .wrapper = inject("fchmod", "error=EPERM"),
             .after = OLD,
             .report = REFUSED},
            {.name = "fsync fails",
             .before = OLD,
             .wrapper = inject("fsync", "error=EIO"),
             .after = OLD,
             .report = REFUSED},
            {.name = "close fails",
             .before = OLD,
             .wrapper = inject("close", "error=EIO"),
             .after = OLD,
             .report = REFUSED},
            {.name = "rename fails",
             .before = OLD,
             .wrapper = inject(RENAME, "error=EIO"),
             .after = OLD,
             .report = REFUSED},
            // The new file is in place but may not survive a power cut: not reported stored.
            {.name = "folder sync fails",
             .before = OLD,
             .wrapper = inject("fsync", "error=EIO", SKUID_DIR_PATH),
             .after = NEW,
             .report = REFUSED},
            {.name = "killed at open",
             .before = OLD,
             .wrapper = inject("openat", "signal=KILL"),
             .after = OLD},
            {.name = "killed at write",
             .before = OLD,
             .wrapper = inject("write", "signal=KILL"),
             .after = OLD,
             .temporary_left = true},
            {.name = "killed at fchmod",
             .before = OLD,
             .wrapper = inject("fchmod", "signal=KILL"),
             .after = OLD,
             .temporary_left = true},
            {.name = "killed at fsync",
             .before = OLD,
             .wrapper = inject("fsync", "signal=KILL"),
             .after = OLD,
             .temporary_left = true},
            {.name = "killed at close",
             .before = OLD,
             .wrapper = inject("close", "signal=KILL"),
             .after = OLD,
             .temporary_left = true},
            {.name = "killed at rename",
             .before = OLD,
             .wrapper = inject(RENAME, "signal=KILL"),
             .after = OLD,
             .temporary_left = true},
            {.name = "killed at folder sync",
             .before = OLD,
             .wrapper = inject("fsync", "signal=KILL", SKUID_DIR_PATH),
             .after = NEW},
            {.name = "killed at first store's rename",
             .wrapper = inject(RENAME, "signal=KILL"),
             .temporary_left = true},
            {.name = "read-only partition", .sandbox = {"--read-only"}, .report = REFUSED},
            {.name = "read-only partition, forced",
             .before = OLD,
             .sandbox = {"--read-only"},
             .after = OLD,
             .report = REFUSED},
            {.name = "read-only partition of a given size",
             .before = OLD,
             .sandbox = {"--read-only", "--size", "65536"},
             .after = OLD,
             .report = REFUSED},
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
        // Straight after the faulted run, before a later store tidies anything up.
        std::vector<std::string> listing;
        if (c.after) listing.push_back("skuid.prop");
        if (c.temporary_left) listing.push_back("skuid.prop.tmp");
        EXPECT_EQ(list_dir(SKUID_DIR_PATH), listing);
        if (c.sandbox == FULL) unlink(host_path("/data/filler").c_str());
        expect_later_store_succeeds(*this);
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
    race.wrapper = inject("openat", "error=ENOENT", SKUID_DIR_PATH, 1);
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

// An identifier file the process may not read still counts as stored, and a run that may not
// change its folder (root's, here) cannot remove it either: both leave it as it is.
TEST_F(Faults, UnreadableIdentifierFileIsKept) {
    prepare(std::nullopt);
    set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
    write_file(SKUID_FILE_PATH, OLD, 0);
    RunOptions unprivileged;
    unprivileged.sandbox = {"--uid", "1000"};

    Outcome store = run({"1", NEW}, unprivileged);
    ASSERT_FALSE(store.log.empty()) << store.stray_err;
    EXPECT_EQ(store.log.back().text, REFUSED);
    run({"2"}, unprivileged);
    EXPECT_EQ(read_file(SKUID_FILE_PATH), OLD);
    EXPECT_EQ(mode_of(SKUID_FILE_PATH), 0u);
}

// A run as another user than the owner of /data/misc (root's, on the bench) cannot make the
// store there: the sandbox's unprivileged user really is one.
TEST_F(Faults, UnprivilegedRunCannotWriteRootsFolders) {
    if (geteuid() != 0) GTEST_SKIP() << "the bench's files belong to the user running it";
    prepare(std::nullopt);
    rmdir(host_path(SKUID_DIR_PATH).c_str());
    rmdir(host_path(SKU_ROOT).c_str());
    RunOptions unprivileged;
    unprivileged.sandbox = {"--uid", "1000"};
    Outcome r = run({"1", NEW}, unprivileged);
    ASSERT_FALSE(r.log.empty()) << r.stray_err;
    EXPECT_EQ(r.log.back().text, "make sku dir: Error\n");
    EXPECT_FALSE(exists(SKU_ROOT));
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
        std::vector<Started> runs;
        for (int i = 0; i < RUNS; i++)
            runs.push_back(start({"1", "ID-" + std::to_string(i)}, slow));
        std::vector<std::string> winners;
        for (int i = 0; i < RUNS; i++) {
            Outcome r = finish(runs[i]);
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
        Started store = start({"1", i % 2 ? A : B}, slow_store);
        Started publish = start({"0"}, slow_publish);
        finish(store);
        Outcome published = finish(publish);
        ASSERT_FALSE(published.log.empty());
        std::string last = published.log.back().text;
        EXPECT_TRUE(last == "prop_value is " + A + "\n" || last == "prop_value is " + B + "\n")
                << last;
    }
}

// Things at the identifier's path that init must never wait on: a FIFO blocks an open until a
// writer comes, and a device never ends. Each road finishes (the bench kills a hung run and
// fails the case) and reads nothing; what is there stays unless a forced store replaces it or a
// removal removes it (the link, not what it points to).
TEST_F(Faults, NoHangOnWhatIsNotAFile) {
    struct Thing {
        const char* name;
        void (*make)(Faults&);
    } things[] = {
            {"FIFO",
             [](Faults& f) { ASSERT_EQ(mkfifo(f.host_path(SKUID_FILE_PATH).c_str(), 0644), 0); }},
            {"link to /dev/zero", [](Faults& f) { f.symlink_at("/dev/zero", SKUID_FILE_PATH); }},
            {"link to /dev/urandom",
             [](Faults& f) { f.symlink_at("/dev/urandom", SKUID_FILE_PATH); }},
    };
    struct Road {
        const char* name;
        std::vector<std::string> args;
        bool forced = false;
        std::string last_report = {};
        std::optional<std::string> stored = {};  // the identifier file afterwards
        bool entry_left = true;                  // anything at its path afterwards
    } roads[] = {
            {.name = "publication", .args = {"0"}, .last_report = FILE_MISSING},
            {.name = "store", .args = {"1", NEW}, .last_report = REFUSED},
            {.name = "forced store",
             .args = {"1", NEW},
             .forced = true,
             .last_report = STORED,
             .stored = NEW},
            {.name = "removal",
             .args = {"2"},
             .last_report = "Option type is: 2\n",
             .entry_left = false},
    };
    for (const auto& thing : things) {
        for (const auto& road : roads) {
            SCOPED_TRACE(std::string(thing.name) + ", " + road.name);
            renew();
            prepare(std::nullopt);
            set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
            if (road.forced) set_prop("sys.vendor.sku.force.reset", "yes");
            thing.make(*this);
            Outcome r = run(road.args);
            EXPECT_EQ(r.status, 0);
            ASSERT_FALSE(r.log.empty());
            EXPECT_EQ(r.log.back().text, road.last_report);
            EXPECT_EQ(prop("ro.vendor.sku.skuid"), std::nullopt);
            EXPECT_EQ(read_file(SKUID_FILE_PATH), road.stored);
            EXPECT_EQ(exists(SKUID_FILE_PATH), road.entry_left);
        }
    }
}

// Diagnostics printed to a pipe whose reader has gone must not kill the run (SIGPIPE): it still
// stores, and still logs.
TEST_F(Faults, ClosedStandardOutputDoesNotKillTheRun) {
    prepare(std::nullopt);
    RunOptions broken;
    broken.broken_stdout = true;
    Outcome r = run({"1", NEW}, broken);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(SKUID_FILE_PATH), NEW);
    ASSERT_FALSE(r.log.empty());
    EXPECT_EQ(r.log.back().text, STORED);
}

namespace {

// The folder changes and syncs of a trace that succeeded, one a line: what the call did and the
// paths on /data it names, as "mkdir /data/misc/sku" or "fsync /data/misc". The *at calls that
// some architectures have instead are read as what they do.
std::vector<std::string> changes_and_syncs(const std::string& trace) {
    static const std::map<std::string, std::string> EFFECTS = {
            {"mkdir", "mkdir"},     {"mkdirat", "mkdir"},    {"unlink", "unlink"},
            {"unlinkat", "unlink"}, {"rmdir", "rmdir"},      {"rename", "rename"},
            {"renameat", "rename"}, {"renameat2", "rename"}, {"fsync", "fsync"},
    };
    std::vector<std::string> calls;
    for (const auto& call : parse_trace(trace)) {
        auto effect = EFFECTS.find(call.name);
        if (effect == EFFECTS.end() || !call.succeeded()) continue;
        std::string entry = effect->second;
        if (call.name == "unlinkat" && call.line.find("AT_REMOVEDIR") != std::string::npos) {
            entry = "rmdir";
        }
        for (const auto& argument : call.arguments) {
            for (const auto& path : argument.paths()) {
                if (is_within(path, "/data")) entry += " " + path;
            }
        }
        calls.push_back(entry);
    }
    return calls;
}

}  // namespace

// What a store or a removal changes in a folder is synced there before the run ends: a new
// folder in its parent, a renamed or removed entry in its folder. The platform's own names
// differ by architecture, so the trace is read for the effect, not for one spelling.
TEST_F(Faults, FolderChangesAreSynced) {
    const std::string CALLS = "mkdir,mkdirat,unlink,unlinkat,rmdir,rename,renameat,renameat2,fsync";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        void (*arrange)(Faults&);
        std::vector<std::string> calls;
    } cases[] = {
            {"first store on an empty /data/misc",
             {"1", NEW},
             [](Faults&) {},
             {"mkdir /data/misc/sku", "fsync /data/misc", "mkdir /data/misc/sku/skuid",
              "fsync /data/misc/sku", "fsync /data/misc/sku/skuid/skuid.prop.tmp",
              "rename /data/misc/sku/skuid/skuid.prop.tmp /data/misc/sku/skuid/skuid.prop",
              "fsync /data/misc/sku/skuid"}},
            {"removal",
             {"2"},
             [](Faults& f) { f.store_file(OLD); },
             {"unlink /data/misc/sku/skuid/skuid.prop", "rmdir /data/misc/sku/skuid",
              "fsync /data/misc/sku"}},
            {"removal beside another file",
             {"2"},
             [](Faults& f) {
                 f.store_file(OLD);
                 f.write_file(SKUID_DIR_PATH + "/other", "x");
             },
             {"unlink /data/misc/sku/skuid/skuid.prop", "fsync /data/misc/sku/skuid"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        enable(false);
        set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
        c.arrange(*this);
        RunOptions options;
        options.wrapper = traced(CALLS);
        Outcome r = run(c.args, options);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(changes_and_syncs(r.trace), c.calls) << r.trace;
    }
}

// A store and a removal at once, the first held part-way by strace (with the store's lock) while
// the second starts: whichever goes first, both keep their promises. A store behind a removal
// stores (nothing is stored any more); a removal behind a store removes what the store reported
// stored.
TEST_F(Faults, StoreAndRemovalAtOnce) {
    struct Case {
        const char* name;
        bool store_first = false;
        std::vector<std::string> held = {};  // the first run's wrapper
        std::string held_when = {};  // this path is gone (removal) or there (store) once held
        bool stored_after = false;
    } cases[] = {
            {.name = "removal held at its unlink, then a store",
             .held = inject("unlink,unlinkat", "delay_exit=1000000", SKUID_FILE_PATH),
             .held_when = SKUID_FILE_PATH,
             .stored_after = true},
            {.name = "forced store held at its rename, then a removal",
             .store_first = true,
             .held = inject(RENAME, "delay_enter=1000000"),
             .held_when = SKUID_TEMP_PATH},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        prepare(OLD);
        set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
        if (!c.store_first) clear_prop("sys.vendor.sku.force.reset");
        RunOptions held;
        held.wrapper = c.held;
        const std::vector<std::string> store = {"1", NEW};
        const std::vector<std::string> removal = {"2"};
        Started first = start(c.store_first ? store : removal, held);
        // The second starts only once the first holds the lock, however slow its start.
        for (int ms = 0; ms < 5000 && exists(c.held_when) != c.store_first; ms += 5) usleep(5000);
        ASSERT_EQ(exists(c.held_when), c.store_first) << "the first run never got there";
        Started second = start(c.store_first ? removal : store);
        Outcome first_run = finish(first);
        Outcome second_run = finish(second);
        const Outcome& store_run = c.store_first ? first_run : second_run;
        ASSERT_FALSE(store_run.log.empty());
        EXPECT_EQ(store_run.log.back().text, STORED);
        EXPECT_EQ(read_file(SKUID_FILE_PATH),
                  c.stored_after ? std::optional<std::string>(NEW) : std::nullopt);
        EXPECT_EQ(is_dir(SKUID_DIR_PATH), c.stored_after);
        EXPECT_EQ(list_dir(SKU_ROOT),
                  c.stored_after ? std::vector<std::string>{"skuid"} : std::vector<std::string>{});
    }
}

// A store or a removal never waits for ever on a lock that another run holds: after a few
// seconds it gives up, and changes nothing. A store says so ("write skuid: 0.") and leaves the
// marker of its last folder probe, 3; a removal says nothing, as always.
TEST_F(Faults, LockWaitIsBounded) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::optional<std::string> before;
        std::string last_report;
    } cases[] = {
            {"store", {"1", NEW}, std::nullopt, REFUSED},
            {"forced store", {"1", NEW}, OLD, REFUSED},
            {"removal", {"2"}, OLD, "Option type is: 2\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew();
        prepare(c.before);
        set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
        int lock_fd = open(host_path(SKU_ROOT).c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(lock_fd, 0);
        ASSERT_EQ(flock(lock_fd, LOCK_EX), 0);
        Outcome r = run(c.args);
        close(lock_fd);
        EXPECT_EQ(r.status, 0);
        ASSERT_FALSE(r.log.empty());
        EXPECT_EQ(r.log.back().text, c.last_report);
        EXPECT_EQ(prop("sys.vendor.sku.step"), "3");
        EXPECT_EQ(read_file(SKUID_FILE_PATH), c.before);
        EXPECT_TRUE(is_dir(SKUID_DIR_PATH));
    }
}

// A lock that fails for a reason other than another run holding it can never be had: it is not
// waited for, and the store gives up at once.
TEST_F(Faults, BrokenLockIsNotWaitedFor) {
    prepare(std::nullopt);
    RunOptions options;
    options.wrapper = inject("flock", "error=ENOLCK", SKU_ROOT);
    Outcome r = run({"1", NEW}, options);
    ASSERT_FALSE(r.log.empty());
    EXPECT_EQ(r.log.back().text, REFUSED);
    size_t attempts = 0;
    for (const auto& call : parse_trace(r.trace)) attempts += call.name == "flock";
    EXPECT_EQ(attempts, 1u);
}

// A read error part-way through the identifier file ends it as its end would: the lines read
// whole stand, and the line it cut short is not published.
TEST_F(Faults, ReadErrorPartWayThroughTheFile) {
    prepare(std::nullopt);
    // The reader takes 4 KiB a read: the last line straddles the first read's end.
    std::string lines = "GOOD\n";
    while (lines.size() < 4090) lines += "y\n";
    write_file(SKUID_FILE_PATH, lines + "CUT-SHORT-LINE\n");
    RunOptions options;
    options.wrapper = inject("read", "error=EIO", SKUID_FILE_PATH, 2);
    Outcome r = run({"0"}, options);
    EXPECT_EQ(prop("ro.vendor.sku.skuid"), "y\n");
    EXPECT_EQ(r.status, 0);
}

// init and a host shell may start the command with standard input, output or error closed. The
// store's files must never take those descriptors: the debug lines printed to standard output,
// or a host log record written to standard error, would land in the stored identifier.
TEST_F(Faults, ClosedStandardDescriptors) {
    for (const char* closed : {"<&- >&-", ">&- 2>&-", "<&- >&- 2>&-", "<&- 2>&-"}) {
        SCOPED_TRACE(closed);
        renew();
        prepare(std::nullopt);
        RunOptions options;
        options.wrapper = {"sh", "-c", std::string("exec \"$@\" ") + closed, "sh"};
        EXPECT_EQ(run({"1", NEW}, options).status, 0);
        EXPECT_EQ(read_file(SKUID_FILE_PATH), NEW);
        EXPECT_EQ(run({"0"}, options).status, 0);
        EXPECT_EQ(prop("ro.vendor.sku.skuid"), NEW);
        EXPECT_EQ(list_dir(SKUID_DIR_PATH), std::vector<std::string>{"skuid.prop"});
    }
}

// Under a file-size limit (ulimit -f, or init's "rlimit fsize"), a write past it fails with
// EFBIG. The store must take that as the write failure it is, not die of SIGXFSZ, and a write
// cut short by the limit must never leave a shortened identifier stored.
TEST_F(Faults, FileSizeLimit) {
    struct Case {
        const char* name;
        const char* limit;
        std::optional<std::string> before;  // stored before (then the store is forced)
    } cases[] = {
            {"no room at all, first store", "0", std::nullopt},
            {"room for part of it, forced store", "5", OLD},
    };
    for (const auto& c : cases) {
        for (bool debug : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (debug ? ", switch on" : ", switch off"));
            renew();
            prepare(c.before);
            if (!debug) clear_prop("sys.vendor.sku.debug");
            RunOptions limited;
            limited.wrapper = {"prlimit", std::string("--fsize=") + c.limit, "--"};
            Outcome r = run({"1", NEW}, limited);
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(read_file(SKUID_FILE_PATH), c.before);
            if (!debug) {
                EXPECT_EQ(r.out, "");
            }
            EXPECT_EQ(list_dir(SKUID_DIR_PATH), c.before ? std::vector<std::string>{"skuid.prop"}
                                                         : std::vector<std::string>{});
            enable();
            expect_later_store_succeeds(*this);
        }
    }
}
