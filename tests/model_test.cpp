// SPDX-License-Identifier: Apache-2.0

// The identifier's life cycle against a model, over random sequences of steps.
//
// Each step is drawn at random: a store of a generated identifier, the forced-reset or debug
// switch turned on or off, a removal with resetting enabled or not, a boot followed by a
// publication, something planted at the identifier's path, or a run with a fault at one of its
// file-system calls. A small model says what each step must leave: the entry at the
// identifier's path, the published value, the last report and step marker (switch on) or
// silence (switch off), and exit status 0. Each step runs the real command in the sandboxed
// device, and after each one the device must match the model. A failing sequence is shrunk to
// the shortest one that still fails, and printed with the RC_PARAMS that replays it.
//
// The budget is a few sequences per run of the suite (SKU_MODEL_SEQUENCES, default 60; fewer where
// runs are slower); a soak runs more: RC_PARAMS="max_success=2000" build/host/tests/sku_tests
// --gtest_filter='Model.*'
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <rapidcheck.h>
#include <rapidcheck/state.h>

#include "device.h"
#include "diag/utf8.h"
#include "strace.h"

namespace {

const std::string KEY = "ro.vendor.sku.skuid";
const std::string TARGET = "/data/misc/target";  // what a planted link points to

// What stands at the identifier's path.
enum class Kind { NONE, FILE, FIFO, FOLDER, LINK, DANGLING_LINK };

struct Entry {
    Kind kind = Kind::NONE;
    std::string bytes;     // a file's, or the linked file's, content
    std::string reads_as;  // what publication makes of it; "" publishes nothing
    mode_t mode = 0;       // a file's permission bits

    bool operator==(const Entry& other) const {
        return kind == other.kind && bytes == other.bytes && mode == other.mode;
    }
    // Publication reads a regular file, through a link too.
    bool readable() const {
        return kind == Kind::FILE || kind == Kind::LINK;
    }
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    static const char* const NAMES[] = {"nothing", "file", "FIFO",
                                        "folder",  "link", "dangling link"};
    os << NAMES[static_cast<int>(e.kind)];
    if (e.readable()) os << " " << testing::PrintToString(e.bytes);
    return os;
}

struct Model {
    bool folders = false;  // both store folders exist
    Entry entry;
    bool temporary_may_be_left = false;  // a killed store may leave its temporary
    std::optional<std::string> published;
    bool debug = false;
    bool force = false;
};

// The front end's verdict on an identifier: the refusal it reports, or nothing when it stores.
std::optional<std::string> refusal_of(const std::string& id) {
    if (id.empty()) return "Second parameter was empty, error\n";
    if (id == "0NULL") return "Second parameter was invalid, error\n";
    if (id.size() > 91) return "Second parameter was too long, error\n";
    if (id.find('\n') != std::string::npos) return "Second parameter had a line feed, error\n";
    if (!is_utf8(id)) return "Second parameter was not UTF-8, error\n";
    size_t equals = id.find('=');
    bool key_line = id.compare(0, KEY.size() + 1, KEY + "=") == 0 && id.size() > KEY.size() + 1;
    if (id.find(KEY) != std::string::npos && equals != std::string::npos && !key_line) {
        return "Second parameter was invalid, error\n";
    }
    return std::nullopt;
}

// What publication makes of a stored identifier: itself, or a key line's value.
std::string published_form(const std::string& id) {
    if (id.compare(0, KEY.size() + 1, KEY + "=") == 0) return id.substr(KEY.size() + 1);
    return id;
}

// A run's expected ending, with the switch on: its last log record and step marker.
struct Ending {
    std::string report;
    std::string marker;
};

// The store of `id`: the model after it, and how it ends.
Ending store(Model& m, const std::string& id) {
    std::string probed = m.folders ? "3" : "2";
    m.folders = true;
    if (auto refusal = refusal_of(id)) return {*refusal, probed};
    if (m.entry.kind != Kind::NONE && !m.force) {
        return {"write skuid: 0.\n", m.entry.readable() ? "10" : "8"};
    }
    m.temporary_may_be_left = false;  // cleared before the temporary is made
    if (m.entry.kind == Kind::FOLDER) return {"write skuid: 0.\n", "14"};  // rename fails
    m.entry = {Kind::FILE, id, published_form(id), 0755};
    return {"write skuid: 1.\n", "14"};
}

Ending publish(Model& m) {
    m.folders = true;
    if (!m.entry.readable()) return {FILE_MISSING, "8"};
    if (!m.published && !m.entry.reads_as.empty()) m.published = m.entry.reads_as;
    return {"prop_value is " + m.entry.reads_as + "\n", "10"};
}

Ending remove(Model& m, bool reset_enabled) {
    std::string probed = m.folders ? "3" : "2";
    m.folders = true;
    if (!reset_enabled) return {"reset skuid not enable, return 0.\n", probed};
    if (m.entry.kind != Kind::NONE) {
        m.entry = {};
        m.temporary_may_be_left = false;
        m.folders = false;  // SKUID_DIR goes with it (SKU_ROOT_DIR stays, made again on demand)
    }
    return {"Option type is: 2\n", probed};
}

// The device a sequence runs on: a fresh one per sequence.
class Device : public DeviceTest {
  public:
    Device() {
        SetUp();
    }
    ~Device() override {
        TearDown();
    }
    void TestBody() override {
    }

    Entry entry() const {
        Entry e;
        struct stat st;
        std::string path = host_path(SKUID_FILE_PATH);
        if (lstat(path.c_str(), &st) != 0) return e;
        if (S_ISREG(st.st_mode)) {
            e.kind = Kind::FILE;
            e.bytes = read_file(SKUID_FILE_PATH).value_or("");
            e.mode = st.st_mode & 07777;
        } else if (S_ISFIFO(st.st_mode)) {
            e.kind = Kind::FIFO;
        } else if (S_ISDIR(st.st_mode)) {
            e.kind = Kind::FOLDER;
        } else if (S_ISLNK(st.st_mode)) {
            e.kind = exists(TARGET) ? Kind::LINK : Kind::DANGLING_LINK;
            if (e.kind == Kind::LINK) e.bytes = read_file(TARGET).value_or("");
        }
        return e;
    }

    // Lays out what the model says is stored (after a planted entry, or to undo a faulted run).
    void lay_out(const Model& m) {
        std::string path = host_path(SKUID_FILE_PATH);
        if (!m.folders) {
            std::filesystem::remove_all(host_path(SKUID_DIR_PATH));
        } else {
            if (!is_dir(SKU_ROOT)) make_dir(SKU_ROOT);
            if (!is_dir(SKUID_DIR_PATH)) make_dir(SKUID_DIR_PATH);
            if (unlink(path.c_str()) != 0) rmdir(path.c_str());
        }
        unlink(host_path(TARGET).c_str());
        switch (m.entry.kind) {
            case Kind::NONE:
                break;
            case Kind::FILE:
                write_file(SKUID_FILE_PATH, m.entry.bytes, m.entry.mode);
                break;
            case Kind::FIFO:
                mkfifo(path.c_str(), 0644);
                break;
            case Kind::FOLDER:
                make_dir(SKUID_FILE_PATH);
                break;
            case Kind::LINK:
                write_file(TARGET, m.entry.bytes);
                symlink_at(TARGET, SKUID_FILE_PATH);
                break;
            case Kind::DANGLING_LINK:
                symlink_at(TARGET, SKUID_FILE_PATH);
                break;
        }
        if (m.published) {
            set_prop("ro.vendor.sku.skuid", *m.published);
        } else {
            clear_prop("ro.vendor.sku.skuid");
        }
    }

    // A run of the command, checked against the model's ending (switch on) or for silence.
    Outcome run_checked(const Model& m, const std::vector<std::string>& args, const Ending& ending,
                        const RunOptions& options = {}) {
        std::optional<std::string> marker_before = prop("sys.vendor.sku.step");
        Outcome r = run(args, options);
        RC_LOG() << "printed: " << testing::PrintToString(r.out) << "\n";
        RC_ASSERT(r.status == 0);
        if (m.debug) {
            RC_ASSERT(!r.log.empty());
            RC_ASSERT(r.log.back().text == ending.report);
            RC_ASSERT(prop("sys.vendor.sku.step") == std::optional<std::string>(ending.marker));
        } else {
            RC_ASSERT(r.out.empty());
            RC_ASSERT(r.log.empty());
            RC_ASSERT(prop("sys.vendor.sku.step") == marker_before);
        }
        return r;
    }

    // After every step: the device holds what the model says.
    void check(const Model& m) {
        RC_ASSERT(entry() == m.entry);
        RC_ASSERT(prop("ro.vendor.sku.skuid") == m.published);
        RC_ASSERT(is_dir(SKUID_DIR_PATH) == m.folders);
        if (m.folders) {
            RC_ASSERT(mode_of(SKU_ROOT) == 0755u);
            RC_ASSERT(mode_of(SKUID_DIR_PATH) == 0755u);
        }
        for (const auto& name : list_dir(SKUID_DIR_PATH)) {
            RC_ASSERT(name == "skuid.prop" ||
                      (m.temporary_may_be_left && name == "skuid.prop.tmp"));
        }
    }
};

using Step = rc::state::Command<Model, Device>;

// Identifiers biased to the edges: the sentinel, the length limit, line feeds, key lines,
// bytes that are not UTF-8; and any bytes a command line can carry.
rc::Gen<std::string> identifiers() {
    auto any_byte = rc::gen::map(rc::gen::inRange(1, 256), [](int c) { return char(c); });
    auto text = rc::gen::container<std::string>(any_byte);
    auto word = rc::gen::nonEmpty(
            rc::gen::container<std::string>(rc::gen::elementOf(std::string("abcXYZ0189-_.: "))));
    return rc::gen::oneOf(rc::gen::element<std::string>(
                                  "", "0NULL", "0null", std::string(91, 'x'), std::string(92, 'x'),
                                  KEY, KEY + "=", "a=" + KEY, "x " + KEY + " = y", "caf\xc3\xa9",
                                  "12\xff", std::string(45, 'a') + std::string(23, 'b')),
                          word, text,
                          rc::gen::map(word, [](const std::string& w) { return KEY + "=" + w; }),
                          rc::gen::map(word, [](const std::string& w) { return w + "\n" + w; }),
                          rc::gen::map(rc::gen::element(44, 45, 46), [](int n) {
                              std::string s;
                              for (int i = 0; i < n; i++) s += "\xc3\xa9";
                              return s;
                          }));
}

struct Store : Step {
    std::string id = *identifiers();

    void apply(Model& m) const override {
        store(m, id);
    }
    void run(const Model& m0, Device& d) const override {
        Model m = m0;
        Ending ending = store(m, id);
        d.run_checked(m0, {"1", id}, ending);
        d.check(m);
    }
    void show(std::ostream& os) const override {
        os << "store " << testing::PrintToString(id);
    }
};

struct BootAndPublish : Step {
    void apply(Model& m) const override {
        m.published.reset();
        publish(m);
    }
    void run(const Model& m0, Device& d) const override {
        Model m = m0;
        m.published.reset();
        Ending ending = publish(m);
        d.reboot();
        d.run_checked(m0, {"0"}, ending);
        d.check(m);
    }
    void show(std::ostream& os) const override {
        os << "boot, publish";
    }
};

struct Remove : Step {
    bool reset_enabled = *rc::gen::arbitrary<bool>();

    void apply(Model& m) const override {
        remove(m, reset_enabled);
    }
    void run(const Model& m0, Device& d) const override {
        Model m = m0;
        Ending ending = remove(m, reset_enabled);
        d.set_prop("ro.vendor.sku.skuid.reset.enable", reset_enabled ? "yes" : "no");
        d.run_checked(m0, {"2"}, ending);
        d.check(m);
    }
    void show(std::ostream& os) const override {
        os << "remove, resetting " << (reset_enabled ? "enabled" : "not enabled");
    }
};

struct Switch : Step {
    bool debug = *rc::gen::arbitrary<bool>();  // else the forced reset
    bool on = *rc::gen::arbitrary<bool>();

    void apply(Model& m) const override {
        (debug ? m.debug : m.force) = on;
    }
    void run(const Model&, Device& d) const override {
        d.set_prop(debug ? "sys.vendor.sku.debug" : "sys.vendor.sku.force.reset",
                   on ? "yes" : "no");
    }
    void show(std::ostream& os) const override {
        os << (debug ? "debug" : "forced reset") << (on ? " on" : " off");
    }
};

// Something put at the identifier's path: each file form the reader accepts, an empty file, a
// FIFO, a folder, a link to a file or to nothing.
struct Plant : Step {
    Entry planted = *rc::gen::apply(
            [](int form, const std::string& v) {
                switch (form) {
                    case 0:
                        return Entry{Kind::FILE, v, v, 0644};
                    case 1:
                        return Entry{Kind::FILE, KEY + "=" + v + "\n", v + "\n", 0644};
                    case 2:
                        return Entry{Kind::FILE, "old\n" + v, v, 0644};
                    case 3:
                        return Entry{Kind::FILE, KEY + "=" + v + "\n\n", "\n", 0644};
                    case 4:
                        return Entry{Kind::FILE, "", "", 0644};
                    case 5:
                        return Entry{Kind::FIFO, "", "", 0};
                    case 6:
                        return Entry{Kind::FOLDER, "", "", 0};
                    case 7:
                        return Entry{Kind::LINK, v, v, 0};
                    default:
                        return Entry{Kind::DANGLING_LINK, "", "", 0};
                }
            },
            rc::gen::element(0, 1, 2, 3, 4, 5, 6, 7, 8),
            rc::gen::nonEmpty(rc::gen::container<std::string>(rc::gen::inRange('a', 'z'))));

    void apply(Model& m) const override {
        m.folders = true;
        m.entry = planted;
    }
    void run(const Model& m0, Device& d) const override {
        Model m = m0;
        apply(m);
        d.lay_out(m);
        d.check(m);
    }
    void show(std::ostream& os) const override {
        os << "plant " << planted;
    }
};

// A run with a fault at the k-th call of one name on one path: an I/O error, a full partition
// or a kill there. Whether and where it strikes depends on the road, so the model does not say
// what the run did; the run must keep the promises every fault keeps: the entry is the old one
// or the new one, whole; "write skuid: 1." only with the new one; the published value is the
// old one or the new one; nothing stray but, after a kill, the temporary; exit status 0 unless
// killed. The device is then put back as the model left it.
struct FaultedRun : Step {
    int road = *rc::gen::element(0, 1, 2);  // store, publication, removal
    std::string id = *rc::gen::element<std::string>("NEW", KEY + "=NEW");
    std::string calls = *rc::gen::element<std::string>(
            "openat", "write", "fchmod", "fsync", "close", "rename,renameat,renameat2", "read",
            "unlink,unlinkat", "rmdir,unlinkat", "mkdir,mkdirat", "flock");
    std::string path =
            *rc::gen::element(SKUID_TEMP_PATH, SKUID_FILE_PATH, SKUID_DIR_PATH, SKU_ROOT);
    int when = *rc::gen::element(1, 2);
    std::string action = *rc::gen::element<std::string>("error=EIO", "error=ENOSPC", "signal=KILL");

    bool killing() const {
        return action == "signal=KILL";
    }

    void apply(Model& m) const override {
        m.folders = true;
        if (killing() && road == 0) m.temporary_may_be_left = true;
    }
    void run(const Model& m0, Device& d) const override {
        Model unfaulted = m0;
        std::vector<std::string> args;
        if (road == 0) {
            store(unfaulted, id);
            args = {"1", id};
        } else if (road == 1) {
            publish(unfaulted);
            args = {"0"};
        } else {
            d.set_prop("ro.vendor.sku.skuid.reset.enable", "yes");
            remove(unfaulted, true);
            args = {"2"};
        }
        RunOptions options;
        options.wrapper = inject(calls, action, path, when);
        Outcome r = d.run(args, options);
        RC_ASSERT(r.status == 0 || (killing() && r.status == 128 + 9));
        Entry on_disk = d.entry();
        RC_ASSERT(on_disk == m0.entry || on_disk == unfaulted.entry);
        if (!r.log.empty() && r.log.back().text == "write skuid: 1.\n") {
            RC_ASSERT(on_disk == unfaulted.entry);
        }
        std::optional<std::string> published = d.prop("ro.vendor.sku.skuid");
        RC_ASSERT(published == m0.published || published == unfaulted.published);
        for (const auto& name : d.list_dir(SKUID_DIR_PATH)) {
            RC_ASSERT(name == "skuid.prop" ||
                      ((killing() || m0.temporary_may_be_left) && name == "skuid.prop.tmp"));
        }
        Model m = m0;
        apply(m);
        d.lay_out(m);
        d.check(m);
    }
    void show(std::ostream& os) const override {
        static const char* const ROADS[] = {"store", "publish", "remove"};
        os << ROADS[road] << (road == 0 ? " " + testing::PrintToString(id) : "") << " with "
           << calls << " #" << when << " on " << path << ": " << action;
    }
};

int sequences() {
    const char* budget = getenv("SKU_MODEL_SEQUENCES");
    return budget != nullptr ? atoi(budget) : 60;
}

}  // namespace

TEST(Model, LifeCycle) {
    rc::detail::TestParams params = rc::detail::configuration().testParams;
    if (getenv("RC_PARAMS") == nullptr) {
        params.maxSuccess = sequences();
        params.maxSize = 30;  // steps in a sequence, at most
    }
    rc::detail::TestMetadata metadata;
    metadata.id = "Model/LifeCycle";
    metadata.description = "LifeCycle";
    auto result = rc::detail::checkProperty(
            rc::detail::toProperty([] {
                Device device;
                device.enable(false);
                rc::state::check(
                        Model{}, device,
                        rc::state::gen::execOneOfWithArgs<Store, Store, BootAndPublish, Remove,
                                                          Switch, Plant, FaultedRun>());
            }),
            metadata, params);
    if (!result.is<rc::detail::SuccessResult>()) {
        std::ostringstream message;
        rc::detail::printResultMessage(result, message);
        FAIL() << message.str();
    }
}
