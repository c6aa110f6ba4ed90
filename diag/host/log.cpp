// SPDX-License-Identifier: Apache-2.0

// Host log: the real Android log library, loaded the first time a record is written.
//
// Most runs write no record at all (the debug switch is off), and linking the log library
// would make every run pay for loading it and the C++ runtime it brings. So it is opened on
// first use. On a host it writes each record to standard error; its host default drops
// debug-priority records, so the minimum priority is lowered to show every record, as a device
// would.
#include <dlfcn.h>
#include <stdarg.h>

#include <android/log.h>

namespace {

using vprint_function = int (*)(int, const char*, const char*, va_list);
using set_minimum_function = int (*)(int);

// Loaded once; a run is single-threaded. Null when the library could not be loaded, in which
// case records are dropped, as when a device's log is unavailable.
vprint_function log_vprint = nullptr;
bool log_loaded = false;

vprint_function load_log() {
    if (log_loaded) return log_vprint;
    log_loaded = true;
    void* library = dlopen(HOST_LIBLOG_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    auto set_minimum = reinterpret_cast<set_minimum_function>(
            dlsym(library, "__android_log_set_minimum_priority"));
    if (set_minimum != nullptr) set_minimum(ANDROID_LOG_VERBOSE);
    log_vprint = reinterpret_cast<vprint_function>(dlsym(library, "__android_log_vprint"));
    return log_vprint;
}

}  // namespace

int __android_log_print(int prio, const char* tag, const char* fmt, ...) {
    vprint_function vprint = load_log();
    if (vprint == nullptr) return -1;
    va_list args;
    va_start(args, fmt);
    int result = vprint(prio, tag, fmt, args);
    va_end(args);
    return result;
}
