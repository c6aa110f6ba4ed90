// SPDX-License-Identifier: Apache-2.0

// Every file-system call of each main road, failed in turn.
//
// A road is run once under strace to record the calls it makes on /data and on the property
// store. Then it is run again once per recorded call, with that call's k-th occurrence failed
// (EIO; ENOSPC too for writes) and, separately, with the run killed there. After each run:
// the exit status is 0 unless the run was killed; the identifier on disk is the old one or the
// new one, whole; "write skuid: 1." is reported only when the new one is on disk and no sync it
// relies on failed; nothing but the identifier (and, after a kill, the temporary) is left in its
// folder; and an ordinary store afterwards succeeds and leaves nothing stray. The cases come
// from the trace, so they grow with the code.

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device.h"
#include "strace.h"

namespace {

struct Road {
    const char* name;
    std::vector<std::string> args;
    std::optional<std::string> before = {};  // stored before the run
    bool forced = false;
    std::set<std::optional<std::string>> outcomes;  // what may be on disk afterwards
};

void PrintTo(const Road& road, std::ostream* os) {
    *os << road.name;
}

// One recorded call: its name, the path it names that the fault is aimed at, which occurrence
// of that name on that path it is, and whether a sync relies on it.
struct Call {
    std::string name;
    std::string path;
    int occurrence;
    bool durability;
};

// The property store is the host's stand-in, the same code on every architecture (a device's
// is the platform's own), so a cross build, whose runs are emulated and slow, sweeps /data
// alone.
bool watched(const std::string& path) {
    if (is_within(path, "/data")) return true;
    return *COMMAND_EMULATOR == '\0' && is_within(path, "/dev/__properties__");
}

// A killed run cannot report what AddressSanitizer finds, so a sanitized build sweeps the
// failed calls alone.
#ifdef __SANITIZE_ADDRESS__
constexpr bool SWEEP_KILLS = false;
#else
constexpr bool SWEEP_KILLS = true;
#endif

// The watched paths a trace's calls name, as strings or as descriptors' paths.
std::set<std::string> watched_paths(const std::vector<TracedCall>& calls) {
    std::set<std::string> paths;
    for (const auto& call : calls) {
        for (const auto& argument : call.arguments) {
            for (const auto& path : argument.paths()) {
                if (watched(path)) paths.insert(path);
            }
        }
    }
    return paths;
}

// The calls that strace -P PATH sees (its own trace of the run), each as the occurrence of its
// name that a fault can be aimed at. An open whose descriptor is synced before it is closed is
// part of that sync.
std::vector<Call> calls_on(const std::string& path, const std::string& trace) {
    std::vector<TracedCall> traced = parse_trace(trace);
    std::vector<Call> calls;
    std::map<std::string, int> seen;
    for (size_t i = 0; i < traced.size(); i++) {
        const std::string& name = traced[i].name;
        bool durability = name == "fsync" || name == "fdatasync";
        if (name == "openat" && traced[i].succeeded()) {
            for (size_t j = i + 1; j < traced.size(); j++) {
                const auto& later = traced[j];
                if (later.arguments.empty() || later.arguments[0].descriptor_path.empty() ||
                    later.arguments[0].number() != traced[i].result) {
                    continue;
                }
                if (later.name == "close") break;
                if (later.name == "fsync") durability = true;
            }
        }
        calls.push_back({name, path, ++seen[name], durability});
    }
    return calls;
}

bool is_write(const std::string& name) {
    return name == "write" || name == "pwrite64" || name == "writev";
}

const Road ROADS[] = {
        {.name = "first store on an empty /data/misc",
         .args = {"1", NEW},
         .outcomes = {std::nullopt, NEW}},
        {.name = "forced store",
         .args = {"1", NEW},
         .before = OLD,
         .forced = true,
         .outcomes = {OLD, NEW}},
        {.name = "refused store", .args = {"1", NEW}, .before = OLD, .outcomes = {OLD}},
        {.name = "publication", .args = {"0"}, .before = OLD, .outcomes = {OLD}},
        {.name = "removal", .args = {"2"}, .before = OLD, .outcomes = {OLD, std::nullopt}},
};

}  // namespace

class Sweep : public DeviceTest, public ::testing::WithParamInterface<Road> {
  protected:
    void prepare(const Road& road) {
        renew();
        enable();
        set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
        if (road.forced) set_prop("sys.vendor.sku.force.reset", "yes");
        if (road.before) store_file(*road.before);
    }
};

TEST_P(Sweep, EveryCallFailedInTurn) {
    const Road& road = GetParam();
    prepare(road);
    // The paths the road names, then, for each, the calls that a fault aimed at it can reach.
    RunOptions recording;
    recording.wrapper = traced();
    Outcome recorded = run(road.args, recording);
    ASSERT_EQ(recorded.status, 0);
    std::vector<Call> calls;
    for (const auto& path : watched_paths(parse_trace(recorded.trace))) {
        prepare(road);
        recording.wrapper = traced("", path);
        for (const auto& call : calls_on(path, run(road.args, recording).trace)) {
            calls.push_back(call);
        }
    }
    ASSERT_GT(calls.size(), 5u) << "nothing recorded:\n" << recorded.trace;

    int runs = 0;
    for (const auto& call : calls) {
        std::vector<std::string> actions = {"error=EIO"};
        if (is_write(call.name)) actions.push_back("error=ENOSPC");
        if (SWEEP_KILLS) actions.push_back("signal=KILL");
        for (const auto& action : actions) {
            std::string fault = call.name + " #" + std::to_string(call.occurrence) + " on " +
                                call.path + ": " + action;
            SCOPED_TRACE(fault);
            prepare(road);
            RunOptions faulted;
            faulted.wrapper = inject(call.name, action, call.path, call.occurrence);
            Outcome r = run(road.args, faulted);
            runs++;
            bool killed = action == "signal=KILL";
            if (killed) {
                ASSERT_EQ(r.status, 128 + 9) << "the kill did not strike";
            } else {
                std::vector<TracedCall> traced_calls = parse_trace(r.trace);
                ASSERT_TRUE(std::any_of(traced_calls.begin(), traced_calls.end(),
                                        [](const TracedCall& c) { return c.injected; }))
                        << "the fault did not strike";
                EXPECT_EQ(r.status, 0);
            }

            std::optional<std::string> on_disk = read_file(SKUID_FILE_PATH);
            EXPECT_TRUE(road.outcomes.count(on_disk) == 1)
                    << "on disk: " << on_disk.value_or("(nothing)");
            EXPECT_TRUE(on_disk || !exists(SKUID_FILE_PATH)) << "not a file at the path";
            bool reported_stored = !r.log.empty() && r.log.back().text == STORED;
            if (reported_stored) {
                EXPECT_EQ(on_disk, NEW) << "reported stored, but it is not on disk";
                EXPECT_FALSE(call.durability) << "reported stored after a failed sync";
            }
            // Straight after the run, before a later store tidies anything up.
            for (const auto& name : list_dir(SKUID_DIR_PATH)) {
                EXPECT_TRUE(name == "skuid.prop" || (killed && name == "skuid.prop.tmp"))
                        << "left in the folder: " << name;
            }

            expect_later_store_succeeds(*this);
            if (HasFailure()) return;  // one broken case is enough to read
        }
    }
    std::cout << road.name << ": " << calls.size() << " calls, " << runs << " faulted runs\n";
}

INSTANTIATE_TEST_SUITE_P(MainRoads, Sweep, ::testing::ValuesIn(ROADS), case_name<Road>);
