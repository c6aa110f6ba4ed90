// The identifier file's writer.
//
// The stored identifier must never be lost or torn, whatever happens during a store: a full
// partition, an I/O error, a crash or a power cut. So the new identifier is written to a
// temporary file beside SKUID_FILE, made durable, and renamed over it, the way init persists
// its properties. Until the rename the old file is untouched; after it the new one is whole.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cutils/properties.h>

#include "diag/diag.h"
#include "store/sku_store.h"

namespace {

constexpr char FORCE_RESET_KEY[] = "sys.vendor.sku.force.reset";

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// True when an identifier file exists (even an empty one) and no forced reset was asked for.
bool is_store_refused() {
    char* buffer = static_cast<char*>(calloc(1, PROPERTY_VALUE_MAX));
    if (buffer == nullptr) {
        // Go ahead as if nothing were stored.
        sku_print_line("malloc error");
        return false;
    }
    bool stored = g_sku_id(buffer);
    free(buffer);
    // A file we may not read is still a stored identifier. The new file is renamed into place,
    // which needs no right to the old one, so without this check it would be replaced.
    stored = stored || access(SKUID_FILE, F_OK) == 0;
    return stored && !is_switch_on(FORCE_RESET_KEY);
}

// Writes the whole identifier into the open temporary, gives it its mode and makes its data
// durable.
bool fill_temporary(int fd, const char* identifier) {
    if (!write_all(fd, identifier, strlen(identifier))) return false;
    mode_t previous_mask = umask(0);
    sku_report(ANDROID_LOG_DEBUG, "open skuid fp: %d.\n", fd);
    bool mode_set = fchmod(fd, SKU_MODE) == 0;
    umask(previous_mask);
    return mode_set && fsync(fd) == 0;
}

// Replaces SKUID_FILE with a file holding `identifier`; on any failure, leaves it as it was.
bool replace_identifier_file(int dir_fd, const char* identifier) {
    // A temporary left by a run that died mid-store would make O_EXCL fail for ever.
    unlink(SKUID_TEMP_FILE);
    int fd = open(SKUID_TEMP_FILE, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (sku_debug == 1) set_step("14");
    if (fd < 0) {
        sku_report(ANDROID_LOG_DEBUG, "write skuid: %s to %s failed.\n", identifier, SKUID_FILE);
        return false;
    }
    bool filled = fill_temporary(fd, identifier);
    // Some file systems report a failed write-back only at close.
    bool closed = close(fd) == 0;
    if (!filled || !closed || rename(SKUID_TEMP_FILE, SKUID_FILE) != 0) {
        unlink(SKUID_TEMP_FILE);
        return false;
    }
    // The rename is an update of the directory, not of the file: until the directory itself is
    // synced, a power cut can bring back the old entry, or none, after we reported success.
    return fsync(dir_fd) == 0;
}

// Runs the check and the replacement under an exclusive lock on SKUID_DIR, so that of two
// stores at once the second sees what the first stored and is refused, rather than both
// finding nothing stored and one identifier being silently lost.
bool store_unless_stored(const char* identifier) {
    int dir_fd = open(SKUID_DIR, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) return false;
    bool stored = flock(dir_fd, LOCK_EX) == 0 && !is_store_refused() &&
                  replace_identifier_file(dir_fd, identifier);
    close(dir_fd);  // releases the lock
    return stored;
}

}  // namespace

bool w_sku_id(const char* identifier) {
    bool result = init_sku_skuid_dir() && store_unless_stored(identifier);
    sku_report(ANDROID_LOG_DEBUG, "write skuid: %d.\n", result ? 1 : 0);
    return result;
}
