// SPDX-License-Identifier: Apache-2.0

#include "strace.h"

#include <ctype.h>
#include <stdlib.h>

#include <map>
#include <sstream>

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The bytes that strace's escapes in text[begin, end) stand for: \xNN (all of them under -xx),
// octal \NNN, and the C letters.
std::string unescape(const std::string& text, size_t begin, size_t end) {
    std::string bytes;
    for (size_t i = begin; i < end; i++) {
        if (text[i] != '\\' || i + 1 >= end) {
            bytes += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 'x' && i + 2 < end && hex_digit(text[i + 1]) >= 0 && hex_digit(text[i + 2]) >= 0) {
            bytes += static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
            i += 2;
        } else if (c >= '0' && c <= '7') {
            int value = 0;
            for (int n = 0; n < 3 && i < end && text[i] >= '0' && text[i] <= '7'; n++, i++) {
                value = value * 8 + (text[i] - '0');
            }
            i--;
            bytes += static_cast<char>(value);
        } else {
            static const std::map<char, char> letters = {{'n', '\n'}, {'t', '\t'}, {'r', '\r'},
                                                         {'v', '\v'}, {'f', '\f'}, {'a', '\a'},
                                                         {'b', '\b'}};
            auto letter = letters.find(c);
            bytes += letter == letters.end() ? c : letter->second;
        }
    }
    return bytes;
}

// The end of the quoted string that opens at text[open], or npos.
size_t string_end(const std::string& text, size_t open) {
    for (size_t i = open + 1; i < text.size(); i++) {
        if (text[i] == '\\') {
            i++;
        } else if (text[i] == '"') {
            return i;
        }
    }
    return std::string::npos;
}

// Reads the arguments that start at text[*at] up to the parenthesis that closes them, leaving
// *at just past it. False when the line ends first.
bool read_arguments(const std::string& text, size_t* at, std::vector<TraceArgument>* arguments) {
    TraceArgument argument;
    int depth = 0;
    for (size_t i = *at; i < text.size(); i++) {
        char c = text[i];
        if (c == '"') {
            size_t close = string_end(text, i);
            if (close == std::string::npos) return false;
            std::string bytes = unescape(text, i + 1, close);
            argument.strings.push_back(bytes);
            argument.text += '"' + bytes + '"';
            i = close;
        } else if (c == '<' && i > *at && isalnum(static_cast<unsigned char>(text[i - 1]))) {
            // A descriptor's path, after its number or AT_FDCWD.
            size_t close = text.find('>', i);
            if (close == std::string::npos) return false;
            std::string path = unescape(text, i + 1, close);
            if (depth == 0 && argument.descriptor_path.empty()) argument.descriptor_path = path;
            argument.text += '<' + path + '>';
            i = close;
        } else if (depth == 0 && (c == ',' || c == ')')) {
            if (c == ',' || !argument.text.empty()) arguments->push_back(argument);
            argument = TraceArgument();
            if (c == ')') {
                *at = i + 1;
                return true;
            }
            while (i + 1 < text.size() && text[i + 1] == ' ') i++;
            continue;
        } else {
            if (c == '(' || c == '[' || c == '{') depth++;
            if (c == ')' || c == ']' || c == '}') depth--;
            argument.text += c;
        }
    }
    return false;
}

// Reads what follows " = ": the result, the descriptor's path, the error, the injection mark.
void read_result(const std::string& text, TracedCall* call) {
    std::string decoded = text;
    if (text.rfind('?', 0) != 0) {
        char* end = nullptr;
        call->result = strtol(text.c_str(), &end, 0);
        size_t at = static_cast<size_t>(end - text.c_str());
        if (at < text.size() && text[at] == '<') {
            size_t close = text.find('>', at);
            if (close != std::string::npos) {
                call->result_path = unescape(text, at + 1, close);
                decoded = text.substr(0, at + 1) + call->result_path + text.substr(close);
            }
        }
        std::istringstream words(text.substr(at));
        std::string word;
        if (*call->result < 0 && words >> word && word.rfind('E', 0) == 0) call->error = word;
    }
    call->injected = text.find("(INJECTED)") != std::string::npos;
    call->line += " = " + decoded;
}

}  // namespace

std::vector<std::string> TraceArgument::paths() const {
    std::vector<std::string> paths;
    if (!descriptor_path.empty()) paths.push_back(descriptor_path);
    paths.insert(paths.end(), strings.begin(), strings.end());
    return paths;
}

std::optional<long> TraceArgument::number() const {
    const char* start = text.c_str();
    char* end = nullptr;
    bool octal = text.size() > 1 && text[0] == '0' && isdigit(static_cast<unsigned char>(text[1]));
    long value = strtol(start, &end, octal ? 8 : 10);
    if (end == start) return std::nullopt;
    return value;
}

std::vector<TracedCall> parse_trace(const std::string& trace) {
    std::vector<TracedCall> calls;
    std::map<pid_t, std::string> unfinished;  // by process: the first half of a split call
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        TracedCall call;
        size_t at = 0;
        if (line.rfind("[pid ", 0) == 0) {
            call.pid = static_cast<pid_t>(atol(line.c_str() + 5));
            at = line.find(']') + 1;
        } else if (!line.empty() && isdigit(static_cast<unsigned char>(line[0]))) {
            call.pid = static_cast<pid_t>(atol(line.c_str()));
            at = line.find(' ');
        }
        if (at == std::string::npos) continue;
        while (at < line.size() && line[at] == ' ') at++;
        std::string rest = line.substr(at);

        const std::string UNFINISHED = " <unfinished ...>";
        if (rest.size() >= UNFINISHED.size() &&
            rest.compare(rest.size() - UNFINISHED.size(), UNFINISHED.size(), UNFINISHED) == 0) {
            unfinished[call.pid] = rest.substr(0, rest.size() - UNFINISHED.size());
            continue;
        }
        if (rest.rfind("<... ", 0) == 0) {
            size_t resumed = rest.find(" resumed>");
            auto first = unfinished.find(call.pid);
            if (resumed == std::string::npos || first == unfinished.end()) continue;
            rest = first->second + rest.substr(resumed + 9);
            unfinished.erase(first);
        }

        size_t open = rest.find('(');
        if (open == std::string::npos || open == 0) continue;
        call.name = rest.substr(0, open);
        bool named = true;
        for (unsigned char c : call.name) named = named && (islower(c) || isdigit(c) || c == '_');
        if (!named) continue;
        at = open + 1;
        if (!read_arguments(rest, &at, &call.arguments)) continue;
        size_t equals = rest.find_first_not_of(' ', at);
        if (equals == std::string::npos || rest[equals] != '=') continue;
        call.line = call.name + "(";
        for (size_t i = 0; i < call.arguments.size(); i++) {
            call.line += (i > 0 ? ", " : "") + call.arguments[i].text;
        }
        call.line += ")";
        size_t result = rest.find_first_not_of(' ', equals + 1);
        if (result == std::string::npos) continue;
        read_result(rest.substr(result), &call);
        calls.push_back(call);
    }
    return calls;
}

std::string named_path(const TracedCall& call, size_t index) {
    if (index >= call.arguments.size() || call.arguments[index].strings.empty()) return "";
    std::string path = call.arguments[index].strings[0];
    if (path.rfind('/', 0) != 0) {
        if (index == 0 || call.arguments[index - 1].descriptor_path.empty()) return path;
        path = call.arguments[index - 1].descriptor_path + "/" + path;
    }
    std::vector<std::string> parts;
    std::istringstream names(path);
    for (std::string name; std::getline(names, name, '/');) {
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (!parts.empty()) parts.pop_back();
        } else {
            parts.push_back(name);
        }
    }
    std::string absolute;
    for (const auto& name : parts) absolute += "/" + name;
    return absolute.empty() ? "/" : absolute;
}

bool is_within(const std::string& path, const std::string& folder) {
    return path == folder || path.rfind(folder + "/", 0) == 0;
}

std::vector<std::string> traced(const std::string& calls, const std::string& path) {
    std::vector<std::string> words = {"strace", "-f", "-y", "-xx", "-s", "4096", "-o", TRACE_PATH};
    if (!path.empty()) words.insert(words.end(), {"-P", path});
    if (!calls.empty()) words.insert(words.end(), {"-e", "trace=" + calls});
    return words;
}

std::vector<std::string> inject(const std::string& calls, const std::string& action,
                                const std::string& path, int when) {
    // Every call on the path is recorded, not only those the fault is aimed at: what a run does
    // after a fault is part of what it does.
    std::vector<std::string> words = traced("", path);
    std::string injection = "inject=" + calls + ":" + action;
    if (when > 0) injection += ":when=" + std::to_string(when);
    words.insert(words.end(), {"-e", injection});
    return words;
}

void expect_later_store_succeeds(DeviceTest& device) {
    device.set_prop("sys.vendor.sku.debug", "yes");
    device.set_prop("sys.vendor.sku.force.reset", "yes");
    Outcome later = device.run({"1", "LATER"});
    ASSERT_FALSE(later.log.empty()) << later.stray_err;
    EXPECT_EQ(later.log.back().text, STORED);
    EXPECT_EQ(device.read_file(SKUID_FILE_PATH), "LATER");
    EXPECT_EQ(device.list_dir(SKUID_DIR_PATH), std::vector<std::string>{"skuid.prop"});
    EXPECT_EQ(device.list_dir(SKU_ROOT), std::vector<std::string>{"skuid"});
}
