// Removal of the stored identifier. It reports nothing, whatever the debug switch says.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include "store/sku_store.h"

bool d_skuid_dir() {
    // Only an identifier file that can be read counts as stored; without one nothing is
    // removed, not even an empty SKUID_DIR.
    FILE* stream = fopen(SKUID_FILE, "re");
    if (stream == nullptr) return false;
    fclose(stream);

    // Under the store's lock, so that a store running at the same time is never half undone.
    int dir_fd = open(SKUID_DIR, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) flock(dir_fd, LOCK_EX);
    remove(SKUID_FILE);
    // A temporary that a crashed store left would otherwise keep the directory.
    unlink(SKUID_TEMP_FILE);
    // Fails, and keeps the directory, when anything else is in it.
    rmdir(SKUID_DIR);
    if (dir_fd >= 0) close(dir_fd);
    return true;
}
