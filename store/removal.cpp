// SPDX-License-Identifier: Apache-2.0

// Removal of the stored identifier. It reports nothing, whatever the debug switch says.
#include <unistd.h>

#include <android-base/unique_fd.h>

#include "store/files.h"
#include "store/sku_store.h"

bool d_skuid_dir() {
    // Under the store's lock, so that a store running at the same time is never half undone.
    android::base::unique_fd lock = lock_store();
    if (!lock.ok()) return false;
    // Whatever stands at SKUID_FILE blocks a store as an identifier would (see the writer), so
    // whatever stands there goes: a file we may not read, a FIFO, a socket, a link (not what it
    // points to), an empty folder. It is never opened, so nothing there can hold the run up. A
    // folder with something in it stays: a removal deletes no tree.
    bool removed = remove_entry(SKUID_FILE);
    if (removed) {
        // A temporary that a crashed store left would otherwise keep the folder.
        remove_entry(SKUID_TEMP_FILE);
        // The folder goes when nothing else is in it. Either way the removal is synced: a
        // factory reset followed by a power cut must not bring the identifier back.
        if (rmdir(SKUID_DIR) == 0) {
            fsync(lock.get());  // the lock is held on SKU_ROOT_DIR, the folder that changed
        } else {
            sync_folder(SKUID_DIR);
        }
    }
    return removed;
}
