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

int open_folder(const char* path) {
    return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int open_regular_file(const char* path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

bool make_folder(const char* path, const char* parent) {
    if (mkdir(path, SKU_MODE) != 0) {
        struct stat st;
        if (errno != EEXIST || stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
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

void clear_temporary() {
    if (unlink(SKUID_TEMP_FILE) != 0 && errno == EISDIR) rmdir(SKUID_TEMP_FILE);
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
