// SPDX-License-Identifier: Apache-2.0

#include "store/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "store/sku_store.h"

using android::base::unique_fd;

namespace {

constexpr int LOCK_WAIT_MS = 3000;
constexpr int LOCK_POLL_MS = 10;

}  // namespace

// init, or a shell, may start the command with standard input, output or error closed. The next
// file opened would then take that descriptor, and whatever the command prints (or, on a host,
// the log library writes to standard error) would go into it: into the stored identifier, when
// it is the temporary. So a descriptor that lands on one of them is moved above them, and every
// closed one is given /dev/null for the rest of the run, so that no later open lands there
// either. On a normal start the three are open and this costs nothing.
unique_fd open_store_file(const char* path, int flags, mode_t mode) {
    int fd = open(path, flags | O_CLOEXEC, mode);
    if (fd < 0 || fd > STDERR_FILENO) return unique_fd(fd);
    unique_fd moved(fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    close(fd);
    int null_fd;
    while ((null_fd = open("/dev/null", O_RDWR)) >= 0 && null_fd <= STDERR_FILENO) {
    }
    if (null_fd >= 0) close(null_fd);
    return moved;
}

unique_fd open_folder(const char* path) {
    return open_store_file(path, O_RDONLY | O_DIRECTORY);
}

unique_fd open_regular_file(const char* path, off_t* size) {
    unique_fd fd = open_store_file(path, O_RDONLY | O_NONBLOCK);
    struct stat st;
    if (!fd.ok() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return unique_fd();
    *size = st.st_size;
    return fd;
}

bool make_folder(const char* path, const char* parent) {
    // mkdir takes the umask off the mode, and the caller's may take the owner's own write or
    // search bit (init's services run under 077, a factory tool's under anything): a store folder
    // made so would fail this store and every later one, and nothing would repair it. Only the
    // folder made here gets the cleared umask; one found in place keeps its mode.
    mode_t previous = umask(0);
    int made = mkdir(path, SKU_MODE);
    int error = errno;
    umask(previous);
    if (made != 0) {
        struct stat st;
        if (error != EEXIST || stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    }
    return sync_folder(parent);
}

bool sync_folder(const char* path) {
    unique_fd fd = open_folder(path);
    return fd.ok() && fsync(fd.get()) == 0;
}

bool remove_entry(const char* path) {
    // Linux refuses to unlink a folder with EISDIR.
    return unlink(path) == 0 || (errno == EISDIR && rmdir(path) == 0);
}

unique_fd lock_store() {
    unique_fd fd = open_folder(SKU_ROOT_DIR);
    if (!fd.ok()) return fd;
    for (int waited = 0; waited <= LOCK_WAIT_MS; waited += LOCK_POLL_MS) {
        if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return fd;
        if (errno != EWOULDBLOCK) break;
        struct timespec pause = {0, LOCK_POLL_MS * 1000000L};
        nanosleep(&pause, nullptr);
    }
    return unique_fd();
}
