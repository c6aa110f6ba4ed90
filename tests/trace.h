// Reading an strace trace: the calls a traced run made, with their arguments decoded.
//
// Made for traces written by `strace -f -y -xx -s 4096`: a process id before each call (-f),
// the path of every descriptor after its number (-y: "5</data/misc/sku>"), and every string as
// hexadecimal escapes (-xx), so that no byte of a path or a buffer is lost or ambiguous. Traces
// without -xx, -y or -f read as well; a call that strace split in two ("<unfinished ...>" and
// "<... NAME resumed>", when processes run at once) is joined again.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

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
