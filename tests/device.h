// SPDX-License-Identifier: Apache-2.0

// The test bench: a fresh device per test, and runs of the built command inside it.
//
// Each test gets its own device folder (an empty data partition holding /data/misc, and an
// empty property store) and runs the command in the same sandbox users run it in, so that the
// command sees /data and /dev/__properties__ at their device paths. A run gives back the exit
// status, standard output, the log records (parsed from standard error, where the host's log
// library writes them) and anything else standard error held.
#pragma once

#include <ctype.h>
#include <sys/types.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

struct LogRecord {
    char priority;  // 'D' (debug) or 'E' (error), as the log prints it
    std::string text;

    bool operator==(const LogRecord& other) const {
        return priority == other.priority && text == other.text;
    }
};
void PrintTo(const LogRecord& record, std::ostream* os);

// The host log library's record header, "TAG P MM-DD HH:MM:SS  PID  TID ", with the priority
// letter as its first group.
const std::regex& log_header();

struct Outcome {
    int status = -1;    // the exit status, or 128 + the signal that ended the command; -1 when
                        // it could not be started or hung
    bool hung = false;  // it was still running after RUN_TIMEOUT_SECONDS, and was killed
    std::string trace;  // what the wrapper wrote to TRACE_PATH (strace -o /proc/self/fd/3)
    std::string out;
    std::vector<LogRecord> log;
    std::string stray_err;  // what standard error held besides log records
};

// How to run: sandbox options ("--uid", "1000"), words to run the command under ("strace",
// ...), whether standard output and standard error share one pipe (to see their order), whether
// standard output is a pipe whose reader has gone, and a library of this build to preload into
// the command.
struct RunOptions {
    std::vector<std::string> sandbox;
    std::vector<std::string> wrapper;
    bool merged_output = false;
    bool broken_stdout = false;
    std::string preload;
};

// A wrapper may write a trace to this descriptor, as the file TRACE_PATH; the run's Outcome
// holds it. Only a run whose wrapper names it gets the descriptor: any other run starts with
// 0, 1 and 2 alone, as on a device.
inline const std::string TRACE_PATH = "/proc/self/fd/3";

// A run started and not waited for yet, and where its output goes.
struct Started {
    pid_t pid = -1;
    std::string out, err, trace;
};

// The unprivileged user that as_owner() runs the command as.
inline constexpr uid_t OWNER_UID = 1000;

// A run that takes longer than this has hung: it is killed, and the case fails.
inline constexpr int RUN_TIMEOUT_SECONDS = 10;

class DeviceTest : public ::testing::Test {
  public:
    void SetUp() override;
    void TearDown() override;

    // Starts the device afresh, for the next row of a table.
    void renew();
    // Both store directories, empty; and with an identifier file (mode 0755) in them.
    void make_store_dirs();
    void store_file(const std::string& content);

    // Runs the built command with these arguments.
    Outcome run(const std::vector<std::string>& args, const RunOptions& options = {});
    // Starts a run without waiting for it, beside others; finish() waits for it and collects it.
    Started start(const std::vector<std::string>& args, const RunOptions& options = {});
    Outcome finish(const Started& run);
    // Runs any program (a helper, a shell) in the same sandbox. A program of this build must
    // be named through built(), which runs it under the target's emulator where there is one.
    Outcome run_program(const std::vector<std::string>& command, const RunOptions& options = {});

    // The property store.
    void set_prop(const std::string& name, const std::string& value);
    std::optional<std::string> prop(const std::string& name) const;
    void clear_prop(const std::string& name);
    // The feature gate open, and the debug switch on or off.
    void enable(bool debug = true);
    // What a reboot forgets: the published identifier and the last step marker.
    void reboot();

    // Files, by their device path ("/data/misc/sku/skuid/skuid.prop").
    std::string host_path(const std::string& device_path) const;
    void write_file(const std::string& device_path, const std::string& content, mode_t mode = 0644);
    std::optional<std::string> read_file(const std::string& device_path) const;
    bool exists(const std::string& device_path) const;
    bool is_dir(const std::string& device_path) const;     // following links
    mode_t mode_of(const std::string& device_path) const;  // permission bits
    std::vector<std::string> list_dir(const std::string& device_path) const;
    void make_dir(const std::string& device_path, mode_t mode = 0755);
    void symlink_at(const std::string& target, const std::string& device_path);

    // Run as the command runs on a device: as the owner of its store (user system there), with
    // no capabilities. Hands /data/misc and everything in it to OWNER_UID first, when the bench
    // runs as root; otherwise the sandbox maps the run to the bench's own user, who owns them.
    RunOptions as_owner();

    std::string device_;

  private:
    Started spawn(const std::vector<std::string>& command, const RunOptions& options);
    int runs_ = 0;  // numbers each run's output files
};

// Paths of the store, spelled out here so that a wrong constant in the command shows.
inline const std::string SKU_ROOT = "/data/misc/sku";
inline const std::string SKUID_DIR_PATH = "/data/misc/sku/skuid";
inline const std::string SKUID_FILE_PATH = "/data/misc/sku/skuid/skuid.prop";
inline const std::string SKUID_TEMP_PATH = "/data/misc/sku/skuid/skuid.prop.tmp";

// Messages seen on most roads with the switch on.
inline const std::string ROOT_EXISTS = "The carrier sku folder : /data/misc/sku exist.\n";
inline const std::string DIR_EXISTS = "The carrier sku folder : /data/misc/sku/skuid exist.\n";
inline const std::string ROOT_MISSING = "The carrier sku folder : /data/misc/sku not exist.\n";
inline const std::string DIR_MISSING = "The carrier sku folder : /data/misc/sku/skuid not exist.\n";
inline const std::string FILE_MISSING = "open sku folder /data/misc/sku/skuid/skuid.prop :FAILED\n";

// The words that run a program of this build: under the emulator, for a cross build.
std::vector<std::string> built(const std::string& program);

// The texts of the records, in order.
std::vector<std::string> texts(const std::vector<LogRecord>& log);

// A parameterised case's name, from its table row's `name`: GoogleTest takes letters and digits
// only ("first store on an empty /data/misc" is "firststoreonanemptydatamisc").
template <typename Row>
std::string case_name(const ::testing::TestParamInfo<Row>& info) {
    std::string name;
    for (const char* c = info.param.name; *c; c++) {
        if (isalnum(static_cast<unsigned char>(*c))) name += *c;
    }
    return name;
}
