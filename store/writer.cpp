// SPDX-License-Identifier: Apache-2.0

// The identifier file's writer.
//
// The stored identifier must never be lost or torn, whatever happens during a store: a full
// partition, an I/O error, a crash or a power cut.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <android-base/unique_fd.h>
#include <cutils/properties.h>

#include "diag/diag.h"
#include "store/files.h"
#include "store/sku_store.h"

using android::base::unique_fd;

namespace {

constexpr char FORCE_RESET_KEY[] = "sys.vendor.sku.force.reset";

bool write_fully(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Whether an identifier is stored: any entry at SKUID_FILE, even an empty file, one we may not
// read, or something that is not a file at all. The new file is renamed into place, which needs
// no right to the old entry, so whatever stands there counts; so does an entry we cannot even
// look at.
bool is_identifier_stored() {
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
    struct stat st;
    return stored || lstat(SKUID_FILE, &st) == 0 || errno != ENOENT;
}

// Replaces SKUID_FILE with a file holding `identifier`, the way init persists its properties:
// the new identifier goes to a temporary file beside it, is made durable, and is renamed over
// it. Until the rename the old file is untouched; after it the new one is whole. On any failure
// the old file (or none) stays, and the temporary goes.
bool write_identifier_file(const char* identifier) {
    // A removal may have taken SKUID_DIR away while this store waited for the lock.
    struct stat st;
    bool present = stat(SKUID_DIR, &st) == 0 && S_ISDIR(st.st_mode);
    if (!present && !make_folder(SKUID_DIR, SKU_ROOT_DIR)) return false;
    // A temporary left by a run that died mid-store would make O_EXCL fail for ever.
    remove_entry(SKUID_TEMP_FILE);
    // Under a file-size limit (ulimit -f, init's "rlimit fsize") a write past it would kill the
    // run with SIGXFSZ; ignored, the write fails with EFBIG like any other failed write.
    signal(SIGXFSZ, SIG_IGN);
    unique_fd fd = open_store_file(SKUID_TEMP_FILE, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    set_step("14");
    if (!fd.ok()) {
        sku_report(ANDROID_LOG_DEBUG, "write skuid: %s to %s failed.\n", identifier, SKUID_FILE);
        return false;
    }
    bool written = write_fully(fd.get(), identifier, strlen(identifier));
    if (written) sku_report(ANDROID_LOG_DEBUG, "open skuid fp: %d.\n", fd.get());
    // fchmod ignores the umask, so the mode is exactly SKU_MODE.
    written = written && fchmod(fd.get(), SKU_MODE) == 0 && fsync(fd.get()) == 0;
    // Some file systems report a failed write-back only at close, so its result counts.
    written = close(fd.release()) == 0 && written;
    if (!written || rename(SKUID_TEMP_FILE, SKUID_FILE) != 0) {
        unlink(SKUID_TEMP_FILE);
        return false;
    }
    // The rename is an update of the folder, not of the file: until the folder itself is
    // synced, a power cut can bring back the old entry, or none, after we reported success.
    return sync_folder(SKUID_DIR);
}

}  // namespace

bool w_sku_id(const char* identifier) {
    bool result = false;
    if (init_sku_skuid_dir()) {
        // Under the store's lock, so that of two stores at once the second sees what the first
        // stored and is refused, rather than both finding nothing stored and one identifier
        // being silently lost.
        unique_fd lock = lock_store();
        result = lock.ok() && (!is_identifier_stored() || is_switch_on(FORCE_RESET_KEY)) &&
                 write_identifier_file(identifier);
    }
    sku_report(ANDROID_LOG_DEBUG, "write skuid: %d.\n", result ? 1 : 0);
    return result;
}
