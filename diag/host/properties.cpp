// Host property store: one file per property in PROPERTY_DIR.
//
// It keeps the rules of the device's property service, so that what runs on a host would not
// fail on a device: names are checked before they become paths, long values are for "ro."
// properties only, values are UTF-8, "ro." properties are write-once, and a reader never sees
// half of a value.
#include <cutils/properties.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "diag/utf8.h"

namespace {

constexpr std::string_view READ_ONLY_PREFIX = "ro.";

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

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Sets a "ro." property from an unnamed file open in the folder: once filled, it is linked
// into place, which fails if the property already has a value. This costs four system calls, a
// named temporary six, and publication runs on every boot.
int set_once(int fd, const char* path, std::string_view text) {
    char name[32];
    snprintf(name, sizeof(name), "/proc/self/fd/%d", fd);
    bool placed = write_all(fd, text.data(), text.size()) &&
                  linkat(AT_FDCWD, name, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0;
    close(fd);
    return placed ? 0 : -1;
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
        int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0) {
            ssize_t n = read(fd, value, PROPERTY_VALUE_MAX - 1);
            length = n > 0 ? static_cast<size_t>(n) : 0;
            close(fd);
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
    ignore_file_size_limit();
    std::string_view name(key);
    std::string_view text(value);
    bool read_only = name.rfind(READ_ONLY_PREFIX, 0) == 0;
    if (!is_legal_name(name)) return -1;
    if (text.size() >= PROPERTY_VALUE_MAX && !read_only) return -1;
    if (!is_utf8(text)) return -1;

    char path[256];
    char temporary[256];
    if (!make_path(path, sizeof(path), key)) return -1;
    if (read_only) {
        int fd = open(PROPERTY_DIR, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0) return set_once(fd, path, text);
        // The file system has no unnamed files: use a named temporary, as for the others.
    }
    if (!make_path(temporary, sizeof(temporary), ".set.XXXXXX")) return -1;
    int fd = mkstemp(temporary);
    if (fd < 0) return -1;
    bool written = write_all(fd, text.data(), text.size()) && fchmod(fd, 0644) == 0;
    written = close(fd) == 0 && written;

    // The new value appears whole or not at all: a "ro." property is linked into place, which
    // fails if it already has a value, and any other property is renamed over the old value.
    bool placed = false;
    if (written) {
        placed = read_only ? link(temporary, path) == 0 : rename(temporary, path) == 0;
    }
    unlink(temporary);
    return placed ? 0 : -1;
}
