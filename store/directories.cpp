// The two store directories, created on demand with mode 0755.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diag/diag.h"
#include "store/sku_store.h"

// A folder exists for the store when it can be opened as a directory: a plain file, a
// dangling link or a directory we may not read does not count. open(O_DIRECTORY) asks exactly
// what opendir would, without the stat and the allocation opendir adds to every boot.
bool IsFolderExist(const char* path) {
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        sku_report(ANDROID_LOG_DEBUG, "The carrier sku folder : %s exist.\n", path);
        if (sku_debug == 1) set_step("3");
        return true;
    }
    if (sku_debug == 1) set_step("2");
    sku_report(ANDROID_LOG_DEBUG, "The carrier sku folder : %s not exist.\n", path);
    return false;
}

namespace {

// Another run may create the directory between our probe and our mkdir; that is as good as
// having created it ourselves. A plain file or a dangling link of that name is not.
bool make_folder(const char* path) {
    if (mkdir(path, SKU_MODE) == 0) return true;
    struct stat st;
    return errno == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool prepare_folder(const char* path, const char* failure_step) {
    if (IsFolderExist(path) || make_folder(path)) return true;
    if (sku_debug == 1) set_step(failure_step);
    sku_report(ANDROID_LOG_DEBUG, "create sku folder : %s to failed.\n", path);
    return false;
}

}  // namespace

// /data/misc is never created: it belongs to the platform, and its absence means /data is
// not ready.
bool init_sku_skuid_dir() {
    return prepare_folder(SKU_ROOT_DIR, "4") && prepare_folder(SKUID_DIR, "5");
}
