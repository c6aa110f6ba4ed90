// SPDX-License-Identifier: Apache-2.0

// The command under strace, inside the sandbox: faults injected into its system calls, its
// calls recorded and read back, and what a store must still keep after any fault.
//
// Traces are read as `strace -f -y -xx -s 4096` (traced()) writes them: a process id before each
// call (-f), the path of every descriptor after its number (-y: "5</data/misc/sku>"), and every
// string as hexadecimal escapes (-xx), so that no byte of a path or a buffer is lost or ambiguous.
// Traces without -xx, -y or -f read as well; a call that strace split in two ("<unfinished ...>"
// and
// "<... NAME resumed>", when processes run at once) is joined again.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "device.h"

// Identifiers and reports that the fault tests share.
inline const std::string OLD = "OLD-IDENTIFIER";
inline const std::string NEW = "NEW-IDENTIFIER";
inline const std::string STORED = "write skuid: 1.\n";
inline const std::string REFUSED = "write skuid: 0.\n";

// rename(2) is renameat(2) on AArch64, and qemu may make either of them renameat2(2).
inline const std::string RENAME = "rename,renameat,renameat2";

// The words that run the command under strace, recording to TRACE_PATH the calls named in
// `calls` (a comma-separated set; all when empty), only those on `path` when one is given.
std::vector<std::string> traced(const std::string& calls = "", const std::string& path = "");

// The words that make one of the calls named in `calls` on `path` fail with `action`
// ("error=EIO", "signal=KILL", "delay_enter=200000"): every such call, or only the `when`-th.
// Every call on `path` is recorded to TRACE_PATH, the injected ones marked.
std::vector<std::string> inject(const std::string& calls, const std::string& action,
                                const std::string& path = SKUID_TEMP_PATH, int when = 0);

// After any fault: an ordinary forced store succeeds and leaves nothing but the identifier in
// its folder and the folder in the store's root.
void expect_later_store_succeeds(DeviceTest& device);

struct TraceArgument {
    std::string text;                  // as strace printed it, its strings and paths decoded
    std::vector<std::string> strings;  // its quoted strings, decoded (a path, a buffer's bytes)
    std::string descriptor_path;       // what -y printed after a descriptor, decoded; or empty

    // The paths it names: its descriptor's, and its strings (which name paths in calls that
    // take them).
    std::vector<std::string> paths() const;
    // The number it starts with (a descriptor, a size, an offset, a mode in octal), if it
    // starts with one.
    std::optional<long> number() const;
};

struct TracedCall {
    pid_t pid = 0;  // 0 when the trace has no process ids
    std::string name;
    std::vector<TraceArgument> arguments;
    std::optional<long> result;  // none when the call never returned ("= ?": exit_group)
    std::string error;           // the error's name ("ENOENT") when the call failed
    std::string result_path;     // what -y printed after a returned descriptor, decoded
    bool injected = false;       // strace injected the result (-e inject=...)
    std::string line;            // the whole call, decoded, for messages

    bool succeeded() const {
        return result && *result >= 0;
    }
};

// The calls of a trace, in order. Lines that are not calls (signals, exits) are skipped.
std::vector<TracedCall> parse_trace(const std::string& trace);

// The path that argument `index` names, made absolute when it is relative and the argument
// before it is a folder's descriptor whose path strace showed (the *at calls' AT_FDCWD</tmp> or
// 5</data>), and with "." and ".." taken out. Empty when the argument holds no string.
std::string named_path(const TracedCall& call, size_t index);

// Whether `path` is `folder` or inside it.
bool is_within(const std::string& path, const std::string& folder);
