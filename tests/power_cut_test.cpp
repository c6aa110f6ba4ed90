// SPDX-License-Identifier: Apache-2.0

// Power cuts: every state of /data that a power cut may leave behind a main road.
//
// A road is run once under strace, and its calls on /data are replayed on a model of the disk
// that keeps no more than the file systems Android puts /data on promise: a file's data (its
// writes, and its mode from fchmod) is durable only once the file is synced; a name's creation,
// rename or removal only once the folder holding it is synced. What is not durable yet when the
// power goes may be lost, each operation on its own. So after every operation of the run, every
// subset of those not durable yet is taken away, and each distinct disk that leaves is checked:
// until the road's promise (a store's "write skuid: 1.", a removal's exit) the identifier file
// holds the old identifier or the new one, whole, or is absent if no identifier was stored;
// from the promise on, the new one. Then each disk is laid out on a fresh device, which boots
// (publication) and stores again: the device publishes what is on disk, and no state a power
// cut leaves blocks a later store or leaves anything stray beside it.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "device.h"
#include "strace.h"

namespace {

const std::string LATER = "LATER";
const std::string DATA = "/data";

// The calls that change /data or make it durable, in every spelling an architecture (or the
// emulator, for a cross build) may use, and the exit. Those after exit_group change /data in
// ways the model does not know: they are traced so that they fail the test rather than go
// unseen. '?' lets an architecture lack a name.
const char TRACED_CALLS[] =
        "?open,?openat,?openat2,?creat,?mkdir,?mkdirat,?rename,?renameat,?renameat2,"
        "?unlink,?unlinkat,?rmdir,?write,?pwrite64,?writev,?pwritev,?pwritev2,?fchmod,"
        "?fchmodat,?chmod,?fsync,?fdatasync,?exit_group,?link,?linkat,?symlink,?symlinkat,"
        "?truncate,?ftruncate,?fallocate,?mknod,?mknodat";

// What /data holds: its files and folders by device path, /data itself included.
struct Entry {
    bool folder = false;
    mode_t mode = 0;
    std::string content;  // a file's bytes

    bool operator<(const Entry& other) const {
        return std::tie(folder, mode, content) < std::tie(other.folder, other.mode, other.content);
    }
};
using Disk = std::map<std::string, Entry>;

using Outcomes = std::set<std::optional<std::string>>;  // identifiers; none: no file

std::string printable(const std::string& bytes) {
    std::string text = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02x", c);
            text += escape;
        }
    }
    return text + "\"";
}

// The disk as inodes. A name leads to an inode, and an inode outlives its names: a rename whose
// source's creation was lost still gives the target the inode the run had written.
struct Inode {
    bool folder = false;
    mode_t mode = 0;
    std::string content;
    std::map<std::string, int> entries;  // a folder's names
};

constexpr int ROOT = 0;  // /data

struct Tree {
    std::map<int, Inode> inodes;

    // The inode at a device path under /data, or -1.
    int lookup(const std::string& path) const {
        if (!is_within(path, DATA)) return -1;
        int inode = ROOT;
        std::istringstream names(path.substr(DATA.size()));
        for (std::string name; std::getline(names, name, '/');) {
            if (name.empty()) continue;
            const auto& entries = inodes.at(inode).entries;
            auto entry = entries.find(name);
            if (entry == entries.end()) return -1;
            inode = entry->second;
        }
        return inode;
    }

    Disk disk() const {
        Disk disk;
        std::set<int> seen;
        add(ROOT, DATA, &disk, &seen);
        return disk;
    }

  private:
    void add(int inode, const std::string& path, Disk* disk, std::set<int>* seen) const {
        const Inode& node = inodes.at(inode);
        if (node.folder && !seen->insert(inode).second) return;  // a folder moved into itself
        (*disk)[path] = {node.folder, node.mode, node.folder ? "" : node.content};
        for (const auto& [name, child] : node.entries) add(child, path + "/" + name, disk, seen);
    }
};

// The inodes of a disk, numbered in path order from /data (0), so that the model of the run and
// every replay of it agree on them.
Tree load(const Disk& disk) {
    Tree tree;
    std::map<std::string, int> numbers;
    for (const auto& [path, entry] : disk) {
        int number = static_cast<int>(numbers.size());
        numbers[path] = number;
        tree.inodes[number] = {entry.folder, entry.mode, entry.content, {}};
        if (path == DATA) continue;
        size_t slash = path.rfind('/');
        tree.inodes[numbers.at(path.substr(0, slash))].entries[path.substr(slash + 1)] = number;
    }
    return tree;
}

// One operation of the run on /data, with the inodes it touched when the run made it.
struct Operation {
    enum Kind { CREATE, MAKE_FOLDER, RENAME, REMOVE, WRITE, CHMOD, SYNC, DATA_SYNC };
    Kind kind = SYNC;
    std::string text;      // what it did, for messages
    size_t call = 0;       // the traced call it was
    int inode = -1;        // the inode made, renamed, removed, written, changed or synced
    int folder = -1;       // the folder of the name made, removed or renamed to
    std::string name;      // that name
    int from_folder = -1;  // a rename's source
    std::string from_name;
    mode_t mode = 0;  // a new inode's, or fchmod's
    size_t offset = 0;
    std::string data;

    bool is_sync() const {
        return kind == SYNC || kind == DATA_SYNC;
    }
};

// A created inode exists from its creation on, whether or not its name survives.
void seed(Tree* tree, const Operation& op) {
    if (op.kind == Operation::CREATE || op.kind == Operation::MAKE_FOLDER) {
        tree->inodes[op.inode] = {op.kind == Operation::MAKE_FOLDER, op.mode, "", {}};
    }
}

void apply(Tree* tree, const Operation& op) {
    switch (op.kind) {
        case Operation::CREATE:
        case Operation::MAKE_FOLDER:
            tree->inodes[op.folder].entries[op.name] = op.inode;
            break;
        case Operation::RENAME: {
            auto& from = tree->inodes[op.from_folder].entries;
            auto source = from.find(op.from_name);
            if (source != from.end() && source->second == op.inode) from.erase(source);
            tree->inodes[op.folder].entries[op.name] = op.inode;
            break;
        }
        case Operation::REMOVE:
            tree->inodes[op.folder].entries.erase(op.name);
            break;
        case Operation::WRITE: {
            // Bytes no kept write covered stay absent: zeros, if a kept write lies past them.
            std::string& content = tree->inodes[op.inode].content;
            if (content.size() < op.offset + op.data.size()) {
                content.resize(op.offset + op.data.size(), '\0');
            }
            content.replace(op.offset, op.data.size(), op.data);
            break;
        }
        case Operation::CHMOD:
            tree->inodes[op.inode].mode = op.mode;
            break;
        case Operation::SYNC:
        case Operation::DATA_SYNC:
            break;
    }
}

std::string parent_of(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

std::string base_name(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// The operations on /data of a traced run (strace -f -y -xx), as the run met them on
// `initial`. A call on /data that the model cannot follow fails the test.
std::vector<Operation> disk_operations(const std::vector<TracedCall>& calls, const Disk& initial) {
    Tree now = load(initial);
    int next_inode = static_cast<int>(now.inodes.size());
    struct Open {
        int inode;
        size_t offset;
        bool append;
    };
    std::map<std::pair<pid_t, long>, Open> open_files;
    std::vector<Operation> ops;

    for (size_t k = 0; k < calls.size(); k++) {
        const TracedCall& call = calls[k];
        const std::string& name = call.name;
        if (!call.succeeded()) continue;  // a failed call changes nothing
        auto operation = [&](Operation::Kind kind, const std::string& text, int inode) {
            Operation op;
            op.kind = kind;
            op.text = text;
            op.call = k;
            op.inode = inode;
            return op;
        };
        auto record = [&](const Operation& op) {
            seed(&now, op);
            apply(&now, op);
            ops.push_back(op);
        };
        auto fail = [&](const std::string& why) { ADD_FAILURE() << why << ": " << call.line; };
        // The file a descriptor argument names, when it is on /data.
        auto file_of = [&](Open** open) -> int {
            const TraceArgument& fd = call.arguments.at(0);
            if (!is_within(fd.descriptor_path, DATA)) return -1;
            auto found = open_files.find({call.pid, fd.number().value_or(-1)});
            if (found != open_files.end()) {
                if (open) *open = &found->second;
                return found->second.inode;
            }
            int inode = now.lookup(fd.descriptor_path);
            if (inode < 0) fail("a descriptor of an unknown file");
            return inode;
        };

        if (name == "open" || name == "openat" || name == "openat2" || name == "creat") {
            size_t at = name == "open" || name == "creat" ? 0 : 1;
            std::string path = call.result_path.empty() ? named_path(call, at) : call.result_path;
            if (!is_within(path, DATA)) continue;
            std::string flags =
                    name == "creat" ? "O_CREAT|O_TRUNC" : call.arguments.at(at + 1).text;
            mode_t mode = 0;
            size_t mode_at = flags.find("mode=");
            if (mode_at != std::string::npos) {
                mode = static_cast<mode_t>(strtol(flags.c_str() + mode_at + 5, nullptr, 8));
            } else if (call.arguments.size() > at + (name == "creat" ? 1 : 2)) {
                mode = static_cast<mode_t>(
                        call.arguments[at + (name == "creat" ? 1 : 2)].number().value_or(0));
            }
            int inode = now.lookup(path);
            if (inode < 0) {
                int folder = now.lookup(parent_of(path));
                if (flags.find("O_CREAT") == std::string::npos || folder < 0) {
                    fail("opened a name the model has not got");
                    continue;
                }
                inode = next_inode++;
                Operation op = operation(Operation::CREATE, "create " + path, inode);
                op.folder = folder;
                op.name = base_name(path);
                op.mode = mode & 07777;
                record(op);
            } else if (flags.find("O_TRUNC") != std::string::npos &&
                       !now.inodes[inode].content.empty()) {
                fail("a truncation, which the model does not know");
            }
            open_files[{call.pid, *call.result}] = {inode, 0,
                                                    flags.find("O_APPEND") != std::string::npos};
        } else if (name == "mkdir" || name == "mkdirat") {
            size_t at = name == "mkdir" ? 0 : 1;
            std::string path = named_path(call, at);
            if (!is_within(path, DATA)) continue;
            int folder = now.lookup(parent_of(path));
            if (folder < 0) {
                fail("a folder made in a folder the model has not got");
                continue;
            }
            mode_t mode = static_cast<mode_t>(call.arguments.at(at + 1).number().value_or(0));
            Operation op = operation(Operation::MAKE_FOLDER, "mkdir " + path, next_inode++);
            op.folder = folder;
            op.name = base_name(path);
            op.mode = mode & 07777;
            record(op);
        } else if (name == "rename" || name == "renameat" || name == "renameat2") {
            bool plain = name == "rename";
            std::string from = named_path(call, plain ? 0 : 1);
            std::string to = named_path(call, plain ? 1 : 3);
            if (!is_within(from, DATA) && !is_within(to, DATA)) continue;
            int inode = now.lookup(from);
            int folder = now.lookup(parent_of(to));
            std::string flags = call.arguments.size() > 4 ? call.arguments[4].text : "0";
            if (flags != "0" && flags != "RENAME_NOREPLACE") {
                fail("a rename the model does not know");
            } else if (inode < 0 || folder < 0 || !is_within(from, DATA) || !is_within(to, DATA)) {
                fail("a rename from or to a name the model has not got");
            } else if (now.lookup(to) != inode) {
                Operation op = operation(Operation::RENAME, "rename " + from + " to " + to, inode);
                op.folder = folder;
                op.name = base_name(to);
                op.from_folder = now.lookup(parent_of(from));
                op.from_name = base_name(from);
                record(op);
            }
        } else if (name == "unlink" || name == "unlinkat" || name == "rmdir") {
            std::string path = named_path(call, name == "unlinkat" ? 1 : 0);
            if (!is_within(path, DATA)) continue;
            int inode = now.lookup(path);
            if (inode < 0) {
                fail("a removal of a name the model has not got");
                continue;
            }
            Operation op = operation(Operation::REMOVE, "remove " + path, inode);
            op.folder = now.lookup(parent_of(path));
            op.name = base_name(path);
            record(op);
        } else if (name == "write" || name == "pwrite64" || name == "writev" || name == "pwritev" ||
                   name == "pwritev2") {
            Open* open = nullptr;
            int inode = file_of(&open);
            if (inode < 0) continue;
            std::string data;
            for (const auto& piece : call.arguments.at(1).strings) data += piece;
            size_t written = static_cast<size_t>(*call.result);
            if (data.size() < written) fail("the trace cut the written bytes short");
            data.resize(written);
            size_t offset = 0;
            if (name[0] == 'p') {
                offset = static_cast<size_t>(call.arguments.at(3).number().value_or(0));
            } else if (open != nullptr) {
                if (open->append) open->offset = now.inodes[inode].content.size();
                offset = open->offset;
                open->offset += written;
            } else {
                fail("a write at an offset the model does not know");
            }
            Operation op = operation(Operation::WRITE,
                                     "write " + printable(data) + " at " + std::to_string(offset) +
                                             " to " + call.arguments[0].descriptor_path,
                                     inode);
            op.offset = offset;
            op.data = data;
            record(op);
        } else if (name == "fchmod" || name == "fchmodat" || name == "chmod") {
            int inode;
            std::string path;
            size_t mode_at = 1;
            if (name == "fchmod") {
                inode = file_of(nullptr);
                path = call.arguments.at(0).descriptor_path;
            } else {
                mode_at = name == "chmod" ? 1 : 2;
                path = named_path(call, mode_at - 1);
                inode = is_within(path, DATA) ? now.lookup(path) : -1;
            }
            if (inode < 0) continue;
            mode_t mode = static_cast<mode_t>(call.arguments.at(mode_at).number().value_or(0));
            char octal[16];
            snprintf(octal, sizeof octal, "%04o", mode & 07777);
            Operation op =
                    operation(Operation::CHMOD, std::string("chmod ") + octal + " " + path, inode);
            op.mode = mode & 07777;
            record(op);
        } else if (name == "fsync" || name == "fdatasync") {
            int inode = file_of(nullptr);
            if (inode < 0) continue;
            record(operation(name == "fsync" ? Operation::SYNC : Operation::DATA_SYNC,
                             name + " " + call.arguments[0].descriptor_path, inode));
        } else if (name != "exit_group") {
            for (size_t i = 0; i < call.arguments.size(); i++) {
                if (is_within(call.arguments[i].descriptor_path, DATA) ||
                    is_within(named_path(call, i), DATA)) {
                    fail("a change of /data that the model does not know");
                    break;
                }
            }
        }
    }
    return ops;
}

// Whether operation `i` is durable once the run has made its first `crash_point` operations:
// a sync after it, and before the crash, covers it. A name needs its folder's fsync (both
// folders', for a rename); a write its file's fsync or fdatasync; a mode its file's fsync.
bool durable(const std::vector<Operation>& ops, size_t i, size_t crash_point) {
    const Operation& op = ops[i];
    std::vector<std::pair<int, bool>> needs;  // inode, and whether fdatasync is not enough
    switch (op.kind) {
        case Operation::WRITE:
            needs = {{op.inode, false}};
            break;
        case Operation::CHMOD:
            needs = {{op.inode, true}};
            break;
        case Operation::RENAME:
            needs = {{op.folder, true}, {op.from_folder, true}};
            break;
        default:
            needs = {{op.folder, true}};
    }
    for (const auto& [inode, full] : needs) {
        bool covered = false;
        for (size_t j = i + 1; j < crash_point && !covered; j++) {
            covered = ops[j].is_sync() && ops[j].inode == inode &&
                      (ops[j].kind == Operation::SYNC || !full);
        }
        if (!covered) return false;
    }
    return true;
}

struct Crash {
    size_t point;              // how many operations the run had made
    std::vector<size_t> lost;  // those of them the disk lost
};

struct CrashState {
    Disk disk;
    Crash first;                         // the first crash that leaves it
    std::optional<Crash> after_promise;  // the first such crash from the promise on
};

// More operations than this not durable at once would be a road the test cannot enumerate.
constexpr size_t MAX_PENDING = 16;

// Every distinct disk a power cut may leave, after each operation of the run (or before any),
// losing any subset of the operations not durable yet. `promise`: the number of operations
// made before the road's promise.
std::vector<CrashState> crash_states(const std::vector<Operation>& ops, const Disk& initial,
                                     size_t promise) {
    std::vector<CrashState> states;
    std::map<Disk, size_t> index;
    for (size_t point = 0; point <= ops.size(); point++) {
        std::vector<size_t> pending;
        for (size_t i = 0; i < point; i++) {
            if (!ops[i].is_sync() && !durable(ops, i, point)) pending.push_back(i);
        }
        if (pending.size() > MAX_PENDING) {
            ADD_FAILURE() << pending.size() << " operations not durable at once";
            return states;
        }
        for (unsigned long subset = 0; subset < (1UL << pending.size()); subset++) {
            Crash crash{point, {}};
            for (size_t bit = 0; bit < pending.size(); bit++) {
                if (subset & (1UL << bit)) crash.lost.push_back(pending[bit]);
            }
            Tree tree = load(initial);
            for (size_t i = 0; i < point; i++) seed(&tree, ops[i]);
            for (size_t i = 0; i < point; i++) {
                if (!std::count(crash.lost.begin(), crash.lost.end(), i)) apply(&tree, ops[i]);
            }
            Disk disk = tree.disk();
            auto [found, added] = index.emplace(disk, states.size());
            if (added) states.push_back({disk, crash, std::nullopt});
            CrashState& state = states[found->second];
            if (point >= promise && !state.after_promise) state.after_promise = crash;
        }
    }
    return states;
}

// What stands at the identifier's path, as messages show it.
std::string found_at_identifier(const Disk& disk) {
    auto entry = disk.find(SKUID_FILE_PATH);
    if (entry == disk.end()) return "no identifier file";
    if (entry->second.folder) return "a folder at the identifier's path";
    return printable(entry->second.content);
}

std::string joined(const std::vector<std::string>& texts) {
    std::string text;
    for (const auto& piece : texts) text += (text.empty() ? "" : "; ") + piece;
    return text;
}

// A disk as messages show it: what the store's folders hold.
std::string describe(const Disk& disk) {
    std::string text;
    for (const auto& [path, entry] : disk) {
        if (!is_within(path, SKU_ROOT)) continue;
        char mode[8];
        snprintf(mode, sizeof mode, "%04o", entry.mode);
        text += "\n    " + path + " " + mode + (entry.folder ? "" : " " + printable(entry.content));
    }
    return text.empty() ? " no " + SKU_ROOT : text;
}

bool holds(const Disk& disk, const Outcomes& allowed) {
    auto entry = disk.find(SKUID_FILE_PATH);
    if (entry == disk.end()) return allowed.count(std::nullopt) == 1;
    return !entry->second.folder && allowed.count(entry->second.content) == 1;
}

struct Violation {
    size_t crash_point;
    bool after_promise;
    std::vector<std::string> lost;
    std::string found;
};

std::ostream& operator<<(std::ostream& os, const Violation& violation) {
    return os << "a power cut after operation " << violation.crash_point
              << (violation.after_promise ? " (after the promise)" : " (before the promise)")
              << ", losing {" << joined(violation.lost) << "}, leaves " << violation.found;
}

// The checker: every state a power cut may leave, whose identifier is not one of `before` (a
// crash before the promise) or `after` (from the promise on).
std::vector<Violation> power_cut_violations(const std::vector<Operation>& ops, const Disk& initial,
                                            size_t promise, const Outcomes& before,
                                            const Outcomes& after) {
    std::vector<Violation> violations;
    auto add = [&](const Disk& disk, const Crash& crash) {
        std::vector<std::string> lost;
        for (size_t i : crash.lost) lost.push_back(ops[i].text);
        violations.push_back(
                {crash.point, crash.point >= promise, lost, found_at_identifier(disk)});
    };
    for (const auto& state : crash_states(ops, initial, promise)) {
        if (state.first.point < promise && !holds(state.disk, before)) add(state.disk, state.first);
        if (state.after_promise && !holds(state.disk, after)) add(state.disk, *state.after_promise);
    }
    return violations;
}

struct Road {
    const char* name;
    std::vector<std::string> args;
    std::optional<std::string> stored = {};  // stored before the run
    bool forced = false;
    bool promise_reported = false;  // the promise is "write skuid: 1." on standard output; else
                                    // the exit
    Outcomes before_promise = {};
    Outcomes after_promise = {};
};

void PrintTo(const Road& road, std::ostream* os) {
    *os << road.name;
}

const Road ROADS[] = {
        {.name = "first store on an empty /data/misc",
         .args = {"1", NEW},
         .promise_reported = true,
         .before_promise = {std::nullopt, NEW},
         .after_promise = {NEW}},
        {.name = "forced store",
         .args = {"1", NEW},
         .stored = OLD,
         .forced = true,
         .promise_reported = true,
         .before_promise = {OLD, NEW},
         .after_promise = {NEW}},
        {.name = "refused store",
         .args = {"1", NEW},
         .stored = OLD,
         .before_promise = {OLD},
         .after_promise = {OLD}},
        {.name = "publication",
         .args = {"0"},
         .stored = OLD,
         .before_promise = {OLD},
         .after_promise = {OLD}},
        {.name = "removal",
         .args = {"2"},
         .stored = OLD,
         .before_promise = {OLD, std::nullopt},
         .after_promise = {std::nullopt}},
};
const Road& FORCED_STORE = ROADS[1];

// How many operations the run had made when it made its promise: wrote "write skuid: 1." to
// standard output, or exited. None when it never did.
std::optional<size_t> promise_point(const std::vector<TracedCall>& calls,
                                    const std::vector<Operation>& ops, bool reported) {
    for (size_t k = 0; k < calls.size(); k++) {
        const TracedCall& call = calls[k];
        bool promised = call.name == "exit_group";
        if (reported) {
            std::string data;
            if (!call.arguments.empty() && call.arguments[0].number() == 1 &&
                call.name.find("write") != std::string::npos) {
                for (const auto& piece : call.arguments.at(1).strings) data += piece;
            }
            promised = data == STORED;
        }
        if (promised) {
            return static_cast<size_t>(std::count_if(
                    ops.begin(), ops.end(), [k](const Operation& op) { return op.call < k; }));
        }
    }
    return std::nullopt;
}

}  // namespace

class PowerCut : public DeviceTest {
  protected:
    struct Recording {
        Disk initial;
        std::vector<TracedCall> calls;
    };

    // Runs the road once under strace, on a fresh device; with the debug switch on, since a
    // store's promise is its report.
    Recording record(const Road& road) {
        renew();
        enable(true);
        set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
        if (road.forced) set_prop("sys.vendor.sku.force.reset", "yes");
        if (road.stored) store_file(*road.stored);
        Recording recording;
        read_disk(DATA, &recording.initial);
        RunOptions options;
        options.wrapper = traced(TRACED_CALLS);
        Outcome run_outcome = run(road.args, options);
        EXPECT_EQ(run_outcome.status, 0);
        recording.calls = parse_trace(run_outcome.trace);
        return recording;
    }

    void read_disk(const std::string& path, Disk* disk) const {
        struct stat st;
        if (lstat(host_path(path).c_str(), &st) != 0) return;
        if (S_ISDIR(st.st_mode)) {
            (*disk)[path] = {true, st.st_mode & 07777, ""};
            for (const auto& name : list_dir(path)) read_disk(path + "/" + name, disk);
        } else if (S_ISREG(st.st_mode)) {
            (*disk)[path] = {false, st.st_mode & 07777, read_file(path).value_or("")};
        } else {
            ADD_FAILURE() << path << ": the model knows files and folders only";
        }
    }

    // A fresh device whose data partition is `disk`.
    void lay_out(const Disk& disk) {
        renew();
        for (const auto& [path, entry] : disk) {  // folders before what they hold
            if (exists(path)) continue;           // /data and /data/misc, on a fresh device
            if (entry.folder) {
                make_dir(path, 0700);
            } else {
                write_file(path, entry.content, entry.mode);
            }
        }
        // What a folder holds is in place before the folder gets a mode that may forbid it.
        for (auto it = disk.rbegin(); it != disk.rend(); ++it) {
            ASSERT_EQ(chmod(host_path(it->first).c_str(), it->second.mode), 0) << it->first;
        }
    }
};

class PowerCutRoad : public PowerCut, public ::testing::WithParamInterface<Road> {};

TEST_P(PowerCutRoad, EveryStateKeepsAWholeIdentifier) {
    const Road& road = GetParam();
    Recording recording = record(road);
    std::vector<Operation> ops = disk_operations(recording.calls, recording.initial);
    std::optional<size_t> promise = promise_point(recording.calls, ops, road.promise_reported);
    ASSERT_TRUE(promise) << "the run made no promise";
    std::vector<CrashState> states = crash_states(ops, recording.initial, *promise);
    std::cout << road.name << ": " << ops.size() << " operations on /data, " << states.size()
              << " crash states\n";
    for (const auto& violation : power_cut_violations(ops, recording.initial, *promise,
                                                      road.before_promise, road.after_promise)) {
        ADD_FAILURE() << violation;
    }

    for (const auto& state : states) {
        std::ostringstream where;
        std::vector<std::string> lost;
        for (size_t i : state.first.lost) lost.push_back(ops[i].text);
        where << "a power cut after operation " << state.first.point << ", losing {" << joined(lost)
              << "}, leaves" << describe(state.disk);
        SCOPED_TRACE(where.str());
        // A state left both before and after the promise must satisfy both.
        Outcomes allowed;
        for (const auto& outcome :
             state.first.point < *promise ? road.before_promise : road.after_promise) {
            if (!state.after_promise || road.after_promise.count(outcome)) allowed.insert(outcome);
        }

        lay_out(state.disk);
        enable(true);
        Outcome boot = run({"0"});
        EXPECT_EQ(boot.status, 0);
        std::optional<std::string> on_disk = read_file(SKUID_FILE_PATH);
        EXPECT_TRUE(allowed.count(on_disk) == 1 && (on_disk || !exists(SKUID_FILE_PATH)))
                << "on disk: " << found_at_identifier(state.disk);
        EXPECT_EQ(prop("ro.vendor.sku.skuid"), on_disk) << "published other than what is on disk";

        set_prop("sys.vendor.sku.force.reset", "yes");
        Outcome later = run({"1", LATER});
        ASSERT_FALSE(later.log.empty());
        EXPECT_EQ(later.log.back().text, STORED);
        EXPECT_EQ(read_file(SKUID_FILE_PATH), LATER);
        EXPECT_EQ(list_dir(SKUID_DIR_PATH), std::vector<std::string>{"skuid.prop"});
        if (HasFailure()) return;  // one broken state is enough to read
    }
}

INSTANTIATE_TEST_SUITE_P(PowerCut, PowerCutRoad, ::testing::ValuesIn(ROADS), case_name<Road>);

// The checker finds what a store would lose without one of its syncs: without the folder's, the
// rename may be lost after "write skuid: 1." was reported, and the old identifier come back;
// without the temporary's, the renamed file may have lost its bytes.
TEST_F(PowerCut, FindsWhatAStoreLosesWithoutOneOfItsSyncs) {
    Recording recording = record(FORCED_STORE);
    struct Case {
        std::string synced;  // the path whose fsync is taken out of the trace
        bool after_promise;
        std::string found;
    } cases[] = {
            {SKUID_DIR_PATH, true, printable(OLD)},
            {SKUID_TEMP_PATH, false, printable("")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("without the fsync of " + c.synced);
        std::vector<TracedCall> calls;
        for (const auto& call : recording.calls) {
            if (call.name != "fsync" || call.arguments.at(0).descriptor_path != c.synced) {
                calls.push_back(call);
            }
        }
        ASSERT_EQ(calls.size() + 1, recording.calls.size()) << "not one fsync of it";
        std::vector<Operation> ops = disk_operations(calls, recording.initial);
        std::optional<size_t> promise = promise_point(calls, ops, true);
        ASSERT_TRUE(promise);
        std::vector<Violation> violations =
                power_cut_violations(ops, recording.initial, *promise, FORCED_STORE.before_promise,
                                     FORCED_STORE.after_promise);
        bool reported = std::any_of(violations.begin(), violations.end(), [&](const auto& v) {
            return v.found == c.found && (v.after_promise || !c.after_promise);
        });
        EXPECT_TRUE(reported) << "no state left " << c.found << "; found "
                              << testing::PrintToString(violations.size()) << " others";
    }
}
