// SPDX-License-Identifier: Apache-2.0

// The two store directories, created on demand with mode 0755.
#include "diag/diag.h"
#include "store/files.h"
#include "store/sku_store.h"

// A folder exists for the store when it can be opened as a directory: a plain file, a
// dangling link or a directory we may not read does not count. open(O_DIRECTORY) asks exactly
// what opendir would, without the stat and the allocation opendir adds to every boot.
bool IsFolderExist(const char* path) {
    bool exists = open_folder(path).ok();  // closed at once
    if (exists) {
        sku_report(ANDROID_LOG_DEBUG, "The carrier sku folder : %s exist.\n", path);
        set_step("3");
        return true;
    }
    set_step("2");
    sku_report(ANDROID_LOG_DEBUG, "The carrier sku folder : %s not exist.\n", path);
    return false;
}

namespace {

// The platform's folder that holds the store. It is never created here: its absence means /data
// is not ready.
constexpr char DATA_MISC_DIR[] = "/data/misc";

bool prepare_folder(const char* path, const char* parent, const char* failure_step) {
    if (IsFolderExist(path) || make_folder(path, parent)) return true;
    set_step(failure_step);
    sku_report(ANDROID_LOG_DEBUG, "create sku folder : %s to failed.\n", path);
    return false;
}

}  // namespace

bool init_sku_skuid_dir() {
    return prepare_folder(SKU_ROOT_DIR, DATA_MISC_DIR, "4") &&
           prepare_folder(SKUID_DIR, SKU_ROOT_DIR, "5");
}
