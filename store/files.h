// File-system steps that the store's operations share: safe opens, durable folder changes and
// the store's lock.
#pragma once

#include <sys/types.h>

// Opens `path` for reading, without blocking, and keeps it only if it is a regular file; its
// size goes to `size`. A FIFO would block the open until a writer came, a device such as
// /dev/zero would never end: the boot waits on this command, so anything but a regular file
// counts as a file that cannot be opened (-1).
int open_regular_file(const char* path, off_t* size);

// Moves a descriptor that landed on standard input, output or error above them (see files.cpp).
// Every descriptor the store opens goes through it. Returns the descriptor to use, or -1.
int keep_off_standard_streams(int fd);

// Opens a folder, for a probe, a lock or a sync; -1 when `path` is not a folder we can open.
int open_folder(const char* path);

// Makes the folder `path` in `parent`, with mode SKU_MODE whatever the umask, and syncs
// `parent`, so that the new folder survives a power cut. A folder that another run made meanwhile
// counts as made; a file or a dangling link of that name does not.
bool make_folder(const char* path, const char* parent);

// Syncs a folder's entries. A mkdir, rename, unlink or rmdir changes the folder, not the file:
// until the folder itself is synced, a power cut can undo it.
bool sync_folder(const char* path);

// Removes the entry at `path` without opening or following it: a file of any kind, a link, or
// an empty folder. True when something was removed.
bool remove_entry(const char* path);

// Takes the store's lock: an exclusive flock on SKU_ROOT_DIR, which a removal never deletes.
// Waits a few seconds at most, so that a run stuck elsewhere cannot stall the init lines that
// store and remove. Returns the locked folder's descriptor (close it to release the lock), or
// -1.
int lock_store();
