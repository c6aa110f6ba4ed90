// SPDX-License-Identifier: Apache-2.0

#include "device.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

extern char** environ;

namespace {

constexpr int SANITIZER_EXIT_STATUS = 86;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// The host log library writes a record as "TAG P MM-DD HH:MM:SS  PID  TID text" and a line
// feed. A record's text may itself hold line feeds, so a record runs to the next header.
void parse_log(const std::string& err, Outcome& run) {
    const std::regex& header = log_header();
    struct Header {
        size_t start, end;
        char priority;
    };
    std::vector<Header> headers;
    for (size_t i = 0; i < err.size();) {
        std::smatch match;
        if (std::regex_search(err.begin() + static_cast<long>(i), err.end(), match, header,
                              std::regex_constants::match_continuous)) {
            headers.push_back({i, i + match.length(0), match.str(1)[0]});
        }
        size_t line_end = err.find('\n', i);
        if (line_end == std::string::npos) break;
        i = line_end + 1;
    }
    run.stray_err = err.substr(0, headers.empty() ? err.size() : headers[0].start);
    for (size_t k = 0; k < headers.size(); k++) {
        size_t stop = k + 1 < headers.size() ? headers[k + 1].start : err.size();
        std::string text = err.substr(headers[k].end, stop - headers[k].end);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        run.log.push_back({headers[k].priority, text});
    }
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

// With SKU_TRACE_DIR set, every trace a run recorded is also kept there, in a file of its own
// named after the test, for tools/check-platform to derive from them the permissions the
// command's system calls need on a device.
void keep_trace(const std::string& trace) {
    const char* folder = getenv("SKU_TRACE_DIR");
    if (folder == nullptr || *folder == '\0' || trace.empty()) return;
    std::string name = "run";
    if (const auto* test = testing::UnitTest::GetInstance()->current_test_info()) {
        name = std::string(test->test_suite_name()) + "." + test->name();
        std::replace(name.begin(), name.end(), '/', '_');
    }
    std::string path = std::string(folder) + "/" + name + ".XXXXXX";
    int fd = mkstemp(path.data());
    ssize_t written = fd >= 0 ? write(fd, trace.data(), trace.size()) : -1;
    if (fd >= 0) close(fd);
    if (written != static_cast<ssize_t>(trace.size())) {
        ADD_FAILURE() << "cannot keep the trace in " << folder;
    }
}

}  // namespace

const std::regex& log_header() {
    static const std::regex header(
            R"(zel_init_sku ([VDIWEF]) \d\d-\d\d \d\d:\d\d:\d\d +\d+ +\d+ )");
    return header;
}

void PrintTo(const LogRecord& record, std::ostream* os) {
    *os << record.priority << " \"" << testing::PrintToString(record.text) << "\"";
}

std::vector<std::string> built(const std::string& program) {
    std::vector<std::string> words;
    if (*COMMAND_EMULATOR != '\0') words.push_back(COMMAND_EMULATOR);
    words.push_back(program);
    return words;
}

std::vector<std::string> texts(const std::vector<LogRecord>& log) {
    std::vector<std::string> result;
    for (const auto& record : log) result.push_back(record.text);
    return result;
}

void DeviceTest::SetUp() {
    char dir[] = "/tmp/sku-device-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    device_ = dir;
    ASSERT_EQ(mkdir((device_ + "/data").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((device_ + "/data/misc").c_str(), 0771), 0);
    ASSERT_EQ(mkdir((device_ + "/properties").c_str(), 0755), 0);
}

void DeviceTest::TearDown() {
    nftw(device_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void DeviceTest::renew() {
    TearDown();
    SetUp();
}

void DeviceTest::make_store_dirs() {
    make_dir(SKU_ROOT);
    make_dir(SKUID_DIR_PATH);
}

void DeviceTest::store_file(const std::string& content) {
    make_store_dirs();
    write_file(SKUID_FILE_PATH, content, 0755);
}

Started DeviceTest::spawn(const std::vector<std::string>& command, const RunOptions& options) {
    std::vector<std::string> words = {SANDBOX};
    words.insert(words.end(), options.sandbox.begin(), options.sandbox.end());
    words.push_back(device_);
    words.push_back("--");
    words.insert(words.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    Started run;
    std::string number = std::to_string(runs_++);
    run.out = device_ + "/stdout." + number;
    run.err = device_ + "/stderr." + number;
    run.trace = device_ + "/trace." + number;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int broken_pipe[2] = {-1, -1};
    if (options.broken_stdout && pipe(broken_pipe) == 0) {
        close(broken_pipe[0]);  // the reader is gone before the run starts
        posix_spawn_file_actions_adddup2(&actions, broken_pipe[1], 1);
        posix_spawn_file_actions_addclose(&actions, broken_pipe[1]);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, run.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    bool traced = std::find(command.begin(), command.end(), TRACE_PATH) != command.end();
    if (traced) {
        posix_spawn_file_actions_addopen(&actions, 3, run.trace.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (options.merged_output) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, run.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    // LeakSanitizer cannot work under strace; the runs that are not traced check for leaks.
    // A preloaded library comes before AddressSanitizer's runtime, which it must be told.
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; variable++) {
        environment.push_back(*variable);
        if (environment.back().rfind("ASAN_OPTIONS=", 0) == 0) {
            if (!options.wrapper.empty()) environment.back() += ":detect_leaks=0";
            if (!options.preload.empty()) environment.back() += ":verify_asan_link_order=0";
        }
    }
    std::vector<char*> envp;
    for (auto& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);

    int spawned = posix_spawn(&run.pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (broken_pipe[1] >= 0) close(broken_pipe[1]);
    EXPECT_EQ(spawned, 0) << "cannot start " << argv[0];
    if (spawned != 0) run.pid = -1;
    return run;
}

Started DeviceTest::start(const std::vector<std::string>& args, const RunOptions& options) {
    RunOptions effective = options;
    std::vector<std::string> command = options.wrapper;
    if (!options.preload.empty()) {
        // Mounted in the sandbox; under the emulator it is the emulated program's to load.
        std::string library =
                "/system_ext/lib64/" + options.preload.substr(options.preload.rfind('/') + 1);
        effective.sandbox.insert(effective.sandbox.end(), {"--lib", options.preload});
        std::string preload = "LD_PRELOAD=" + library;
        command.insert(command.end(),
                       {"env", *COMMAND_EMULATOR != '\0' ? "QEMU_SET_ENV=" + preload : preload});
    }
    for (auto& word : built(ZEL_INIT_SKU)) command.push_back(word);
    command.insert(command.end(), args.begin(), args.end());
    return spawn(command, effective);
}

Outcome DeviceTest::finish(const Started& run) {
    Outcome result;
    if (run.pid > 0) {
        // The sandbox takes the whole run with it when it is killed (bwrap --die-with-parent).
        int status = 0;
        pid_t waited = 0;
        for (int ms = 0; ms < RUN_TIMEOUT_SECONDS * 1000 && waited == 0; ms += 10) {
            waited = waitpid(run.pid, &status, WNOHANG);
            if (waited == 0) usleep(10000);
        }
        if (waited == 0) {
            kill(run.pid, SIGKILL);
            waitpid(run.pid, &status, 0);
            result.hung = true;
            ADD_FAILURE() << "the run hung: killed after " << RUN_TIMEOUT_SECONDS << " s";
        } else if (waited == run.pid) {
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }
    result.out = slurp(run.out);
    result.trace = slurp(run.trace);
    keep_trace(result.trace);
    std::string err_text = slurp(run.err);
    parse_log(err_text, result);
    unlink(run.out.c_str());
    unlink(run.err.c_str());
    unlink(run.trace.c_str());
    // Sanitized builds exit with this status on a finding (see the asan test preset).
    EXPECT_NE(result.status, SANITIZER_EXIT_STATUS) << err_text << result.out;
    return result;
}

Outcome DeviceTest::run(const std::vector<std::string>& args, const RunOptions& options) {
    return finish(start(args, options));
}

Outcome DeviceTest::run_program(const std::vector<std::string>& command,
                                const RunOptions& options) {
    return finish(spawn(command, options));
}

namespace {

// Writes a fixture file; a fixture that cannot be written fails the test, since every check
// after it would be checking something else.
void write_fixture(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary);
    file << content;
    file.close();
    if (!file) ADD_FAILURE() << "cannot write the fixture " << path;
}

}  // namespace

void DeviceTest::set_prop(const std::string& name, const std::string& value) {
    write_fixture(device_ + "/properties/" + name, value);
}

std::optional<std::string> DeviceTest::prop(const std::string& name) const {
    std::string path = device_ + "/properties/" + name;
    if (access(path.c_str(), F_OK) != 0) return std::nullopt;
    return slurp(path);
}

void DeviceTest::clear_prop(const std::string& name) {
    unlink((device_ + "/properties/" + name).c_str());
}

void DeviceTest::enable(bool debug) {
    set_prop("ro.vendor.sku.enable", "yes");
    if (debug) set_prop("sys.vendor.sku.debug", "yes");
}

void DeviceTest::reboot() {
    clear_prop("ro.vendor.sku.skuid");
    clear_prop("sys.vendor.sku.step");
}

std::string DeviceTest::host_path(const std::string& device_path) const {
    return device_ + device_path;
}

void DeviceTest::write_file(const std::string& device_path, const std::string& content,
                            mode_t mode) {
    std::string path = host_path(device_path);
    write_fixture(path, content);
    if (chmod(path.c_str(), mode) != 0) ADD_FAILURE() << "cannot set the mode of " << path;
}

std::optional<std::string> DeviceTest::read_file(const std::string& device_path) const {
    struct stat st;
    std::string path = host_path(device_path);
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return slurp(path);
}

bool DeviceTest::exists(const std::string& device_path) const {
    struct stat st;
    return lstat(host_path(device_path).c_str(), &st) == 0;
}

bool DeviceTest::is_dir(const std::string& device_path) const {
    struct stat st;
    return stat(host_path(device_path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

mode_t DeviceTest::mode_of(const std::string& device_path) const {
    struct stat st;
    if (lstat(host_path(device_path).c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

std::vector<std::string> DeviceTest::list_dir(const std::string& device_path) const {
    std::vector<std::string> names;
    DIR* dir = opendir(host_path(device_path).c_str());
    if (dir == nullptr) return names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void DeviceTest::make_dir(const std::string& device_path, mode_t mode) {
    std::string path = host_path(device_path);
    ASSERT_EQ(mkdir(path.c_str(), mode), 0) << path;
    chmod(path.c_str(), mode);
}

RunOptions DeviceTest::as_owner() {
    if (geteuid() == 0) {
        static const auto give = [](const char* path, const struct stat*, int, struct FTW*) {
            return lchown(path, OWNER_UID, OWNER_UID);
        };
        EXPECT_EQ(nftw(host_path("/data/misc").c_str(), give, 16, FTW_PHYS), 0);
    }
    RunOptions options;
    options.sandbox = {"--uid", std::to_string(OWNER_UID)};
    return options;
}

void DeviceTest::symlink_at(const std::string& target, const std::string& device_path) {
    ASSERT_EQ(symlink(target.c_str(), host_path(device_path).c_str()), 0);
}
