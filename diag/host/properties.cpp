// SPDX-License-Identifier: Apache-2.0

// Host property store: one file per property in PROPERTY_DIR.
//
// It keeps the rules of the device's property service, so that what runs on a host would not
// fail on a device: names are checked before they become paths, long values are for "ro."
// properties only, values are UTF-8, an "ro." property is set once, and a reader sees a value
// whole or not at all. Whatever it finds in the folder, it never hangs.
#include <cutils/properties.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string_view>

#include <android-base/unique_fd.h>

#include "diag/utf8.h"

using android::base::unique_fd;

namespace {

constexpr std::string_view READ_ONLY_PREFIX = "ro.";

// Where a set writes the new value before renaming it into place. Sets hold the folder's lock,
// so one name serves them all, and a set killed part-way leaves only this, for the next set to
// reuse. No property has this name: names never start with a dot.
constexpr char TEMPORARY_NAME[] = ".set";

// Letters, digits and "@_.-", with no empty segment between dots. Checking this first also
// keeps a name from leaving the folder ("..", "/").
bool is_legal_name(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.back() == '.') return false;
    if (name.find("..") != std::string_view::npos) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '@' || c == '_' || c == '.' || c == '-';
        if (!ok) return false;
    }
    return true;
}

bool make_path(char* path, size_t size, const char* name) {
    int n = snprintf(path, size, "%s/%s", PROPERTY_DIR, name);
    return n > 0 && static_cast<size_t>(n) < size;
}

// How long a set waits for another run's set to end: a run stopped while it held the folder's
// lock, or a user's own flock on the folder, must not hold up every later run for ever.
constexpr int LOCK_WAIT_MS = 1000;
constexpr int LOCK_POLL_MS = 10;

bool lock_folder(int fd) {
    for (int waited = 0; waited <= LOCK_WAIT_MS; waited += LOCK_POLL_MS) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK) return false;
        struct timespec pause = {0, LOCK_POLL_MS * 1000000L};
        nanosleep(&pause, nullptr);
    }
    return false;
}

// A device's property service writes its values in init, out of reach of the caller's
// file-size limit. Here the caller writes them: under a limit (ulimit -f), a set must fail as a
// refused set does, not kill the caller with SIGXFSZ.
void ignore_file_size_limit() {
    static bool ignored = false;
    if (ignored) return;
    signal(SIGXFSZ, SIG_IGN);
    ignored = true;
}

}  // namespace

int property_get(const char* key, char* value, const char* default_value) {
    size_t length = 0;
    char path[256];
    if (is_legal_name(key) && make_path(path, sizeof(path), key)) {
        // Only a regular file holds a value: a FIFO left in the folder would block the read.
        unique_fd fd(open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (fd.ok() && fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
            ssize_t n = read(fd.get(), value, PROPERTY_VALUE_MAX - 1);
            length = n > 0 ? static_cast<size_t>(n) : 0;
        }
    }
    // As on a device, an empty value is no value: the default stands in for it.
    if (length == 0 && default_value != nullptr) {
        length = strnlen(default_value, PROPERTY_VALUE_MAX - 1);
        memcpy(value, default_value, length);
    }
    value[length] = '\0';
    return static_cast<int>(length);
}

int property_set(const char* key, const char* value) {
    std::string_view name(key);
    std::string_view text(value);
    bool read_only = name.rfind(READ_ONLY_PREFIX, 0) == 0;
    if (!is_legal_name(name)) return -1;
    if (text.size() >= PROPERTY_VALUE_MAX && !read_only) return -1;
    if (!is_utf8(text)) return -1;
    char path[256];
    char temporary[256];
    if (!make_path(path, sizeof(path), key) ||
        !make_path(temporary, sizeof(temporary), TEMPORARY_NAME)) {
        return -1;
    }
    ignore_file_size_limit();

    // One set at a time, even from runs at once: the lock guards the shared temporary.
    unique_fd folder(open(PROPERTY_DIR, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.ok() || !lock_folder(folder.get())) return -1;
    // The value is written to the temporary whole (a short write, on a full disk or past a
    // file-size limit, fails the set) and renamed into place, so that a reader sees the old
    // value or the new one. Readable by all, as a device's properties are.
    unique_fd fd(open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      0644));
    bool written = fd.ok() && fchmod(fd.get(), 0644) == 0 &&
                   write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    fd.reset();
    // An "ro." property already set keeps its value: RENAME_NOREPLACE refuses to replace it.
    unsigned int once = read_only ? RENAME_NOREPLACE : 0;
    bool placed = written && renameat2(AT_FDCWD, temporary, AT_FDCWD, path, once) == 0;
    if (!placed) unlink(temporary);
    // Released before the folder is closed, so that if either call fails the other still frees
    // the lock: a lock left held would stop every later set of the run.
    flock(folder.get(), LOCK_UN);
    return placed ? 0 : -1;
}
