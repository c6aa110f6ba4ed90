// What a store does when the system fails under it: a full or read-only partition, an error
// or a kill at each of its system calls, files and links where they should not be, missing
// rights, and other runs at the same time. Whatever happens, the stored identifier is the old
// one or the new one, whole; "write skuid: 1." is reported only when the new one is on disk;
// and nothing is left behind that blocks a later store.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <sstream>
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
        bool temporary_left = false;        // a kill left the temporary beside it
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
            {"killed at write", OLD, {}, inject("write", "signal=KILL"), OLD, std::nullopt, true},
            {"killed at fchmod", OLD, {}, inject("fchmod", "signal=KILL"), OLD, std::nullopt, true},
            {"killed at fsync", OLD, {}, inject("fsync", "signal=KILL"), OLD, std::nullopt, true},
            {"killed at close", OLD, {}, inject("close", "signal=KILL"), OLD, std::nullopt, true},
            {"killed at rename", OLD, {}, inject(RENAME, "signal=KILL"), OLD, std::nullopt, true},
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
             std::nullopt,
             true},
            {"read-only partition", std::nullopt, {"--read-only"}, {}, std::nullopt, REFUSED},
            {"read-only partition, forced", OLD, {"--read-only"}, {}, OLD, REFUSED},
            {"read-only partition of a given size",
             OLD,
             {"--read-only", "--size", "65536"},
             {},
             OLD,
             REFUSED},
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
        bool forced;
        std::string last_report;
        std::optional<std::string> stored;  // the identifier file afterwards
        bool entry_left;                    // anything at its path afterwards
    } roads[] = {
            {"publication", {"0"}, false, FILE_MISSING, std::nullopt, true},
            {"store", {"1", NEW}, false, REFUSED, std::nullopt, true},
            {"forced store", {"1", NEW}, true, STORED, NEW, true},
            {"removal", {"2"}, false, "Option type is: 2\n", std::nullopt, false},
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

// The folder changes and syncs of a trace (strace -f -y) that succeeded, one a line: what the
// call did and the paths it names, as "mkdir /data/misc/sku" or "fsync /data/misc". The *at
// calls that some architectures have instead are read as what they do.
std::vector<std::string> changes_and_syncs(const std::string& trace) {
    static const std::regex call(
            R"(^(?:\d+ +)?(mkdir|mkdirat|unlink|unlinkat|rmdir|rename|renameat|renameat2|fsync)\((.*)\) += 0$)");
    static const std::regex path(R"re("(/data[^"]*)"|<(/data[^>]*)>)re");
    std::vector<std::string> calls;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, call)) continue;
        std::string name = m.str(1);
        std::string arguments = m.str(2);
        if (name == "unlinkat" && arguments.find("AT_REMOVEDIR") != std::string::npos) {
            name = "rmdir";
        } else if (name != "rename" && name != "fsync" && name != "rmdir" && name != "mkdir" &&
                   name != "unlink") {
            name = name.substr(0, name.rfind("at"));  // mkdirat, unlinkat, renameat(2)
        }
        std::string entry = name;
        for (std::sregex_iterator it(arguments.begin(), arguments.end(), path), end; it != end;
             ++it) {
            entry += " " + ((*it)[1].matched ? (*it)[1].str() : (*it)[2].str());
        }
        calls.push_back(entry);
    }
    return calls;
}

std::vector<std::string> traced(const std::string& calls) {
    return {"strace", "-f", "-y", "-o", TRACE_PATH, "-e", "trace=" + calls};
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
        bool store_first;
        std::vector<std::string> held;  // the first run's wrapper
        std::string held_when;          // this path is gone (removal) or there (store) once held
        bool stored_after;
    } cases[] = {
            {"removal held at its unlink, then a store", false,
             inject("unlink,unlinkat", "delay_exit=1000000", SKUID_FILE_PATH), SKUID_FILE_PATH,
             true},
            {"forced store held at its rename, then a removal", true,
             inject(RENAME, "delay_enter=1000000"), SKUID_TEMP_PATH, false},
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
        pid_t first = start(c.store_first ? store : removal, held, 0);
        // The second starts only once the first holds the lock, however slow its start.
        for (int ms = 0; ms < 5000 && exists(c.held_when) != c.store_first; ms += 5) usleep(5000);
        ASSERT_EQ(exists(c.held_when), c.store_first) << "the first run never got there";
        pid_t second = start(c.store_first ? removal : store, {}, 1);
        Outcome first_run = finish(first, 0);
        Outcome second_run = finish(second, 1);
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
            expect_later_store_succeeds();
        }
    }
}
