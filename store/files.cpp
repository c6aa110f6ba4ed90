#include "store/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "store/sku_store.h"

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
int keep_off_standard_streams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    int null_fd;
    while ((null_fd = open("/dev/null", O_RDWR)) >= 0 && null_fd <= STDERR_FILENO) {
    }
    if (null_fd >= 0) close(null_fd);
    return moved;
}

int open_folder(const char* path) {
    return keep_off_standard_streams(open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

int open_regular_file(const char* path, off_t* size) {
    int fd = keep_off_standard_streams(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
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
    int fd = open_folder(path);
    if (fd < 0) return false;
    bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

bool remove_entry(const char* path) {
    // Linux refuses to unlink a folder with EISDIR.
    return unlink(path) == 0 || (errno == EISDIR && rmdir(path) == 0);
}

int lock_store() {
    int fd = open_folder(SKU_ROOT_DIR);
    if (fd < 0) return -1;
    for (int waited = 0; waited <= LOCK_WAIT_MS; waited += LOCK_POLL_MS) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        if (errno != EWOULDBLOCK) break;
        struct timespec pause = {0, LOCK_POLL_MS * 1000000L};
        nanosleep(&pause, nullptr);
    }
    close(fd);
    return -1;
}
