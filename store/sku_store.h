// SPDX-License-Identifier: Apache-2.0

// The identifier store: where the carrier SKU identifier is kept, and the operations on it.
//
// The identifier lives in one small text file, SKUID_FILE, two directory levels below
// /data/misc. The file holds the identifier's characters alone. The reader also accepts
// property-file lines ("ro.vendor.sku.skuid=VALUE"); the last line read decides the value.
#pragma once

#include <stddef.h>

inline constexpr char SKU_ROOT_DIR[] = "/data/misc/sku";
inline constexpr char SKUID_DIR[] = "/data/misc/sku/skuid";
inline constexpr char SKUID_FILE[] = "/data/misc/sku/skuid/skuid.prop";

// Where a store writes the new identifier before renaming it over SKUID_FILE. A store or a
// removal deletes one that a crash left behind.
inline constexpr char SKUID_TEMP_FILE[] = "/data/misc/sku/skuid/skuid.prop.tmp";

// Both the key searched for in the identifier file and the name of the published property.
inline constexpr char SKUID_KEY[] = "ro.vendor.sku.skuid";

// The most of the identifier file that is ever read: hundreds of times any identifier file, as
// no store writes more than a property value. A larger file is not an identifier file.
inline constexpr size_t SKUID_FILE_MAX = 65536;  // 64 KiB

// Mode of the store directories and of the identifier file.
inline constexpr unsigned int SKU_MODE = 0755;

// True when `path` can be opened as a directory.
bool IsFolderExist(const char* path);

// Makes SKU_ROOT_DIR and SKUID_DIR exist (never anything above them). True when both do.
bool init_sku_skuid_dir();

// Reads the identifier file into `out` (PROPERTY_VALUE_MAX bytes, zero-filled by the caller).
// True when the file could be opened, whatever it held; on false `out` is untouched.
bool g_sku_id(char* out);

// Reads identifier-file content from `fd` into `out`, as g_sku_id does once the file is open:
// `size` bytes, and never more than SKUID_FILE_MAX. A value longer than `out` holds is cut to
// the whole characters of its first PROPERTY_VALUE_MAX - 1 bytes.
void read_skuid_content(int fd, size_t size, char* out);

// Stores `identifier` in SKUID_FILE, atomically and durably. Refused when an identifier is
// already stored, unless "sys.vendor.sku.force.reset" reads "yes". True when it is on disk.
bool w_sku_id(const char* identifier);

// Publishes the stored identifier as the property SKUID_KEY. Returns what g_sku_id returned.
bool init_skuid_prop();

// Removes whatever stands at SKUID_FILE and, when nothing else is left in it, SKUID_DIR. True
// when there was something to remove.
bool d_skuid_dir();
