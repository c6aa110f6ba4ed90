// SPDX-License-Identifier: Apache-2.0

// Preloaded into the command, it makes every zero-filled allocation of a property value buffer
// fail, so that a test can take the roads a device takes when memory runs out. Every other
// allocation goes to the allocator that would have served it (the C library's, or a
// sanitizer's).
#include <dlfcn.h>
#include <stddef.h>

#include <cutils/properties.h>

extern "C" void* calloc(size_t count, size_t size) {
    using calloc_function = void* (*)(size_t, size_t);
    static calloc_function next_calloc = nullptr;
    if (count * size == PROPERTY_VALUE_MAX) return nullptr;
    if (next_calloc == nullptr) {
        next_calloc = reinterpret_cast<calloc_function>(dlsym(RTLD_NEXT, "calloc"));
    }
    return next_calloc(count, size);
}
