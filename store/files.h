// SPDX-License-Identifier: Apache-2.0

// File-system steps that the store's operations share: safe opens, durable folder changes and
// the store's lock. Every descriptor comes back owned, so that scope closes it on every road.
#pragma once

#include <sys/types.h>

#include <android-base/unique_fd.h>

// Opens `path` (O_CLOEXEC added to `flags`), never on standard input, output or error: see
// files.cpp.
android::base::unique_fd open_store_file(const char* path, int flags, mode_t mode = 0);

// Opens `path` for reading, without blocking, and keeps it only if it is a regular file; its
// size goes to `size`. A FIFO would block the open until a writer came, a device such as
// /dev/zero would never end: the boot waits on this command, so anything but a regular file
// counts as a file that cannot be opened.
android::base::unique_fd open_regular_file(const char* path, off_t* size);

// Opens a folder, for a probe, a lock or a sync; not ok when `path` is not a folder we can open.
android::base::unique_fd open_folder(const char* path);

// Makes the folder `path` in `parent`, with mode SKU_MODE whatever the umask, and syncs
// `parent`, so that the new folder survives a power cut. A folder that another run made
// meanwhile counts as made; a file or a dangling link of that name does not.
bool make_folder(const char* path, const char* parent);

// Syncs a folder's entries. A mkdir, rename, unlink or rmdir changes the folder, not the file:
// until the folder itself is synced, a power cut can undo it.
bool sync_folder(const char* path);

// Removes the entry at `path` without opening or following it: a file of any kind, a link, or
// an empty folder. True when something was removed.
bool remove_entry(const char* path);

// Takes the store's lock: an exclusive flock on SKU_ROOT_DIR, which a removal never deletes.
// Waits a few seconds at most, so that a run stuck elsewhere cannot stall the init lines that
// store and remove. Returns the locked folder (closing it releases the lock); not ok when the
// lock could not be had.
android::base::unique_fd lock_store();
