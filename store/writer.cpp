// The identifier file's writer.
//
// The stored identifier must never be lost or torn, whatever happens during a store: a full
// partition, an I/O error, a crash or a power cut. So the new identifier is written to a
// temporary file beside SKUID_FILE, made durable, and renamed over it, the way init persists
// its properties. Until the rename the old file is untouched; after it the new one is whole.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cutils/properties.h>

#include "diag/diag.h"
#include "store/files.h"
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

// True when an identifier is stored (any entry at SKUID_FILE, even an empty file, one we may
// not read, or something that is not a file at all) and no forced reset was asked for.
bool is_store_refused() {
    bool stored = false;
    char* buffer = static_cast<char*>(calloc(1, PROPERTY_VALUE_MAX));
    if (buffer == nullptr) {
        // The file cannot be read without the buffer, but the entry check below still protects
        // a stored identifier: without it, a store would replace one without the forced reset.
        sku_print_line("malloc error");
    } else {
        stored = g_sku_id(buffer);
        free(buffer);
    }
    // The new file is renamed into place, which needs no right to the old entry, so whatever
    // stands there counts as stored, readable or not; so does an entry we cannot even look at.
    struct stat st;
    stored = stored || lstat(SKUID_FILE, &st) == 0 || errno != ENOENT;
    return stored && !is_switch_on(FORCE_RESET_KEY);
}

// Writes the whole identifier into the open temporary, gives it its mode and makes its data
// durable. fchmod ignores the umask, so the mode is exactly SKU_MODE.
bool fill_temporary(int fd, const char* identifier) {
    if (!write_all(fd, identifier, strlen(identifier))) return false;
    sku_report(ANDROID_LOG_DEBUG, "open skuid fp: %d.\n", fd);
    return fchmod(fd, SKU_MODE) == 0 && fsync(fd) == 0;
}

// Replaces SKUID_FILE with a file holding `identifier`; on any failure, leaves it as it was.
bool replace_identifier_file(const char* identifier) {
    // A removal may have taken SKUID_DIR away while this store waited for the lock.
    struct stat st;
    bool present = stat(SKUID_DIR, &st) == 0 && S_ISDIR(st.st_mode);
    if (!present && !make_folder(SKUID_DIR, SKU_ROOT_DIR)) return false;
    // A temporary left by a run that died mid-store would make O_EXCL fail for ever.
    remove_entry(SKUID_TEMP_FILE);
    // Under a file-size limit (ulimit -f, init's "rlimit fsize") a write past it would kill the
    // run with SIGXFSZ; ignored, the write fails with EFBIG like any other failed write.
    signal(SIGXFSZ, SIG_IGN);
    int fd = keep_off_standard_streams(
            open(SKUID_TEMP_FILE, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    set_step("14");
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
    // The rename is an update of the folder, not of the file: until the folder itself is
    // synced, a power cut can bring back the old entry, or none, after we reported success.
    return sync_folder(SKUID_DIR);
}

// Runs the check and the replacement under the store's lock, so that of two stores at once the
// second sees what the first stored and is refused, rather than both finding nothing stored and
// one identifier being silently lost.
bool store_unless_stored(const char* identifier) {
    int lock_fd = lock_store();
    if (lock_fd < 0) return false;
    bool stored = !is_store_refused() && replace_identifier_file(identifier);
    close(lock_fd);  // releases the lock
    return stored;
}

}  // namespace

bool w_sku_id(const char* identifier) {
    bool result = init_sku_skuid_dir() && store_unless_stored(identifier);
    sku_report(ANDROID_LOG_DEBUG, "write skuid: %d.\n", result ? 1 : 0);
    return result;
}
