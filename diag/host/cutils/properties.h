// SPDX-License-Identifier: Apache-2.0

// Host stand-in for libcutils' property interface, with the device's signatures and limits.
//
// A host has no property service, so each property is kept as one regular file in
// PROPERTY_DIR, named as the property and holding exactly its value's bytes. The store outlives
// a run, which is how a user or a test sets a property before a run and reads one after it.
#pragma once

#include <sys/cdefs.h>

#define PROPERTY_KEY_MAX 32
#define PROPERTY_VALUE_MAX 92

#define PROPERTY_DIR "/dev/__properties__"

// C functions, as the platform's libcutils declares them.
__BEGIN_DECLS

// Copies the property's value, or `default_value` when it has none, into `value` (at most
// PROPERTY_VALUE_MAX - 1 bytes and a NUL). Returns the length copied.
int property_get(const char* key, char* value, const char* default_value);

// Sets a property under the device's rules. Returns 0 on success and -1 when the name or value
// is not allowed, an "ro." property already has a value, or the store cannot be written.
int property_set(const char* key, const char* value);

__END_DECLS
