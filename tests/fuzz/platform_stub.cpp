// SPDX-License-Identifier: Apache-2.0

// Platform services for the fuzzers: a debug switch that reads as on, so that every report is
// formatted, and a log and a property store that discard what they are given.
#include <stdio.h>
#include <string.h>

#include <android/log.h>
#include <cutils/properties.h>

int property_get(const char* key, char* value, const char* default_value) {
    (void)key;
    snprintf(value, PROPERTY_VALUE_MAX, "%s", default_value);
    return static_cast<int>(strlen(value));
}

int property_set(const char*, const char*) {
    return 0;
}

int __android_log_print(int, const char*, const char* format, ...) {
    return format != nullptr ? 1 : 0;
}
