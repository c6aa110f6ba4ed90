// Removal of the stored identifier. It reports nothing, whatever the debug switch says.
#include <unistd.h>

#include "store/files.h"
#include "store/sku_store.h"

bool d_skuid_dir() {
    // Under the store's lock, so that a store running at the same time is never half undone.
    int lock_fd = lock_store();
    if (lock_fd < 0) return false;
    // Only an identifier file that can be read counts as stored; without one nothing is
    // removed, not even an empty SKUID_DIR.
    int fd = open_regular_file(SKUID_FILE);
    bool stored = fd >= 0;
    if (stored) {
        close(fd);
        // unlink, not remove: remove would also delete an empty folder standing at the name.
        unlink(SKUID_FILE);
        // A temporary that a crashed store left would otherwise keep the folder.
        clear_temporary();
        // The folder goes when nothing else is in it. Either way the removal is synced: a
        // factory reset followed by a power cut must not bring the identifier back.
        if (rmdir(SKUID_DIR) == 0) {
            fsync(lock_fd);  // the lock is held on SKU_ROOT_DIR, the folder that changed
        } else {
            sync_folder(SKUID_DIR);
        }
    }
    close(lock_fd);
    return stored;
}
