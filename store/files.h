// File-system steps that the store's operations share: safe opens, durable folder changes and
// the store's lock.
#pragma once

// Opens `path` for reading, without blocking, and keeps it only if it is a regular file. A FIFO
// would block the open until a writer came, a device such as /dev/zero would never end: the
// boot waits on this command, so anything but a regular file counts as a file that cannot be
// opened (-1).
int open_regular_file(const char* path);

// Opens a folder, for a probe, a lock or a sync; -1 when `path` is not a folder we can open.
int open_folder(const char* path);

// Makes the folder `path` in `parent` (mode 0755 less the umask) and syncs `parent`, so that
// the new folder survives a power cut. A folder that another run made meanwhile counts as made;
// a file or a dangling link of that name does not.
bool make_folder(const char* path, const char* parent);

// Syncs a folder's entries. A mkdir, rename, unlink or rmdir changes the folder, not the file:
// until the folder itself is synced, a power cut can undo it.
bool sync_folder(const char* path);

// Clears what a store that died may have left at the temporary's name: a file, or an empty
// folder. Anything else there makes the next store fail, and it says so.
void clear_temporary();

// Takes the store's lock: an exclusive flock on SKU_ROOT_DIR, which a removal never deletes.
// Waits a few seconds at most, so that a run stuck elsewhere cannot stall the init lines that
// store and remove. Returns the locked folder's descriptor (close it to release the lock), or
// -1.
int lock_store();
