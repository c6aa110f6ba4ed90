// SPDX-License-Identifier: Apache-2.0

// Measures what a run of zel_init_sku costs on each of its main roads, beside the floor of what
// any process costs and the shell script a device maker would otherwise write.
//
//   sku_bench RUNS COMMAND NOOP SCRIPT
//
// It runs inside the sandbox (tools/bench starts it there), so that every run sees the device's
// paths and no sandbox start-up is counted. For each road it prepares the device, then times
// RUNS runs, interleaved with the other roads' so that a slow moment of the machine is shared
// by all; it reports the median and the 10th to 90th percentile of the wall time,
// and, from one more run each, the instructions executed (valgrind's callgrind: the same count
// on a loaded machine), the system calls made (strace -c) and the peak resident memory.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

const std::string PROPERTIES = "/dev/__properties__/";
const std::string SKUID_DIR = "/data/misc/sku/skuid";
const std::string SKUID_FILE = SKUID_DIR + "/skuid.prop";

void set_prop(const std::string& name, const std::string& value) {
    std::ofstream(PROPERTIES + name) << value;
}

void clear_prop(const std::string& name) {
    unlink((PROPERTIES + name).c_str());
}

// The device as it is at boot with an identifier stored: the feature enabled, the identifier
// not yet published (a boot starts with no properties set), the debug switch off.
void stored_device() {
    mkdir("/data/misc/sku", 0755);
    mkdir(SKUID_DIR.c_str(), 0755);
    std::ofstream(SKUID_FILE) << "12345";
    chmod(SKUID_FILE.c_str(), 0755);
    set_prop("ro.vendor.sku.enable", "yes");
    clear_prop("ro.vendor.sku.skuid");
    clear_prop("sys.vendor.sku.debug");
    clear_prop("sys.vendor.sku.step");
}

struct Road {
    std::string name;
    std::function<void()> prepare;
    std::vector<std::string> argv;
    std::vector<double> milliseconds;
    long peak_kib = 0;
    long instructions = 0;
    long syscalls = 0;
    // What of those the host's stand-ins for the platform's services cost: the property store
    // and the log loader. A device's property reads are shared memory, with no system call.
    long stand_in_instructions = 0;
    long stand_in_syscalls = 0;
};

Road make_road(std::string name, std::function<void()> prepare, std::vector<std::string> argv) {
    Road road;
    road.name = std::move(name);
    road.prepare = std::move(prepare);
    road.argv = std::move(argv);
    return road;
}

// Runs argv with its output discarded, or sent to `capture` when one is named, and returns how
// long it took in milliseconds.
double spawn_and_wait(const std::vector<std::string>& argv, const std::string& capture = "") {
    std::vector<char*> args;
    for (const auto& word : argv) args.push_back(const_cast<char*>(word.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (capture.empty()) {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        fprintf(stderr, "cannot run %s\n", args[0]);
        exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "%s failed\n", args[0]);
        exit(1);
    }
    return (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> wrapped(std::vector<std::string> wrapper,
                                 const std::vector<std::string>& argv) {
    wrapper.insert(wrapper.end(), argv.begin(), argv.end());
    return wrapper;
}

// The host's stand-ins for the platform's services: their entry points, as the command calls
// them.
const std::vector<std::string> STAND_INS = {"property_get", "property_set", "__android_log_print"};

// Instructions of one run, every process of it included (the shell's children too): all of
// them, or, with `only`, those spent inside these functions and what they call (callgrind's
// --toggle-collect).
long count_instructions(const Road& road, const std::vector<std::string>& only = {}) {
    road.prepare();
    const std::string report = "/tmp/callgrind.txt";
    std::vector<std::string> callgrind = {"/usr/bin/valgrind", "--tool=callgrind",
                                          "--trace-children=yes", "--callgrind-out-file=/dev/null"};
    for (const auto& function : only) callgrind.push_back("--toggle-collect=" + function + "*");
    spawn_and_wait(wrapped(callgrind, road.argv), report);
    std::istringstream lines(slurp(report));
    long total = 0;
    for (std::string line; std::getline(lines, line);) {
        size_t at = line.find("Collected : ");
        if (at != std::string::npos) total += std::stol(line.substr(at + 12));
    }
    return total;
}

// System calls made inside the stand-ins: those whose call stack (strace -k) passes through
// one of their entry points.
long count_stand_in_syscalls(const Road& road) {
    road.prepare();
    const std::string trace = "/tmp/strace-k.txt";
    spawn_and_wait(wrapped({"/usr/bin/strace", "-f", "-k", "-o", trace}, road.argv));
    std::istringstream lines(slurp(trace));
    long count = 0;
    bool counted = true;  // the current call, once it is known to be a stand-in's
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(" > ", 0) != 0) {
            counted = false;
            continue;
        }
        for (const auto& entry : STAND_INS) {
            // "(property_set+0x25f)", or, for a C++ name, "(property_set(char const*, ...)+0x25f)"
            bool in_entry = line.find("(" + entry + "+") != std::string::npos ||
                            line.find("(" + entry + "(") != std::string::npos;
            if (!counted && in_entry) {
                counted = true;
                count++;
            }
        }
    }
    return count;
}

// System calls of one run, every process of it included.
long count_syscalls(const Road& road) {
    road.prepare();
    const std::string report = "/tmp/strace.txt";
    spawn_and_wait(wrapped({"/usr/bin/strace", "-f", "-c", "-o", report}, road.argv));
    std::istringstream lines(slurp(report));
    for (std::string line; std::getline(lines, line);) {
        if (line.size() > 5 && line.compare(line.size() - 5, 5, "total") == 0) {
            std::istringstream fields(line);
            std::string percent, seconds, per_call;
            long calls = 0;
            fields >> percent >> seconds >> per_call >> calls;
            return calls;
        }
    }
    return 0;
}

// Peak resident memory of one run's process. The kernel's own count for a child (wait4's
// ru_maxrss) includes the memory of the process it was forked from, so the process is stopped
// as it exits, while its memory is still its own, and its high-water mark is read.
long peak_rss_kib(const Road& road) {
    road.prepare();
    std::vector<char*> args;
    for (const auto& word : road.argv) args.push_back(const_cast<char*>(word.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);  // stopped at its exec
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT);
    ptrace(PTRACE_CONT, pid, nullptr, nullptr);
    long peak = 0;
    while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
        if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            std::istringstream lines(slurp("/proc/" + std::to_string(pid) + "/status"));
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind("VmHWM:", 0) == 0) peak = std::stol(line.substr(6));
            }
        }
        int signal = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
        ptrace(PTRACE_CONT, pid, nullptr, signal);
    }
    return peak;
}

template <typename T>
T percentile(std::vector<T> values, double fraction) {
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: sku_bench RUNS COMMAND NOOP SCRIPT\n");
        return 2;
    }
    int runs = atoi(argv[1]);
    std::string command = argv[2];
    std::string noop = argv[3];
    std::string script = argv[4];

    auto debug_on = [] {
        stored_device();
        set_prop("sys.vendor.sku.debug", "yes");
    };
    auto gate_closed = [] {
        stored_device();
        clear_prop("ro.vendor.sku.enable");
    };
    auto nothing_stored = [] {
        stored_device();
        unlink(SKUID_FILE.c_str());
    };
    std::vector<Road> roads = {
            make_road("/bin/true (floor)", stored_device, {"/usr/bin/true"}),
            make_road("program doing nothing (floor)", stored_device, {noop}),
            make_road("publish, switch off (every boot)", stored_device, {command, "0"}),
            make_road("publish, switch on", debug_on, {command, "0"}),
            make_road("feature gate closed", gate_closed, {command, "0"}),
            make_road("second store, refused", stored_device, {command, "1", "67890"}),
            make_road("first store (durable)", nothing_stored, {command, "1", "12345"}),
            make_road("shell script publishing", stored_device, {"/bin/sh", script}),
    };

    for (int run = 0; run < runs; run++) {
        for (auto& road : roads) {
            road.prepare();
            road.milliseconds.push_back(spawn_and_wait(road.argv));
        }
    }
    for (auto& road : roads) {
        road.instructions = count_instructions(road);
        road.stand_in_instructions = count_instructions(road, STAND_INS);
        road.syscalls = count_syscalls(road);
        road.stand_in_syscalls = count_stand_in_syscalls(road);
        road.peak_kib = peak_rss_kib(road);
    }

    const Road& floor = roads[0];
    double floor_ms = percentile(floor.milliseconds, 0.5);
    printf("%d runs of each road, interleaved. Ratios are to /bin/true. \"own\": without what the "
           "host's stand-ins for the platform's property and log services cost.\n\n",
           runs);
    printf("| road | median ms | p10-p90 ms | x time | instructions (own) | x instr. (own) "
           "| syscalls (own) | peak RSS KiB |\n");
    printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const auto& road : roads) {
        double median = percentile(road.milliseconds, 0.5);
        long own_instructions = road.instructions - road.stand_in_instructions;
        long own_syscalls = road.syscalls - road.stand_in_syscalls;
        printf("| %s | %.3f | %.3f-%.3f | %.2f | %ld (%ld) | %.2f (%.2f) | %ld (%+ld) (%ld (%+ld)) "
               "| %ld |\n",
               road.name.c_str(), median, percentile(road.milliseconds, 0.1),
               percentile(road.milliseconds, 0.9), median / floor_ms, road.instructions,
               own_instructions,
               static_cast<double>(road.instructions) / static_cast<double>(floor.instructions),
               static_cast<double>(own_instructions) / static_cast<double>(floor.instructions),
               road.syscalls, road.syscalls - floor.syscalls, own_syscalls,
               own_syscalls - floor.syscalls, road.peak_kib);
    }

    const Road& publish = roads[2];
    const Road& shell = roads.back();
    double publish_ms = percentile(publish.milliseconds, 0.5);
    double instruction_ratio =
            static_cast<double>(publish.instructions) / static_cast<double>(floor.instructions);
    double own_instruction_ratio =
            static_cast<double>(publish.instructions - publish.stand_in_instructions) /
            static_cast<double>(floor.instructions);
    double shell_ratio = percentile(shell.milliseconds, 0.5) / publish_ms;
    long extra_syscalls = publish.syscalls - floor.syscalls;
    long own_extra_syscalls = extra_syscalls - publish.stand_in_syscalls;
    printf("\nEvery-boot road (publish, switch off) against its targets:\n");
    printf("- instructions %.2fx /bin/true, %.2fx without the host's property store (target at "
           "most 1.5x): %s\n",
           instruction_ratio, own_instruction_ratio, instruction_ratio <= 1.5 ? "met" : "missed");
    printf("- wall time %.2fx /bin/true (target at most 1.3x): %s\n", publish_ms / floor_ms,
           publish_ms / floor_ms <= 1.3 ? "met" : "missed");
    printf("- the shell script takes %.2fx as long (target at least 2x): %s\n", shell_ratio,
           shell_ratio >= 2 ? "met" : "missed");
    printf("- %ld system calls beyond /bin/true's, %ld of them the host's property store's; the "
           "command's own %ld (target at most 15): %s\n",
           extra_syscalls, publish.stand_in_syscalls, own_extra_syscalls,
           own_extra_syscalls <= 15 ? "met" : "missed");
    return 0;
}
