// SPDX-License-Identifier: Apache-2.0

// The command line's checks, kept free of side effects so that they can be tested and fuzzed
// on their own. Each returns the refusal message to report, or nullptr when the check passes.
#pragma once

inline constexpr int OPTION_PUBLISH = 0;
inline constexpr int OPTION_STORE = 1;
inline constexpr int OPTION_REMOVE = 2;

// The option must be there and start with a digit; only its first character is tested.
const char* option_refusal(int argc, const char* const* argv);

// The option's leading digits as a number. A value above INT_MAX counts as INT_MAX, an option
// that does nothing, rather than wrapping round to one that does.
int parse_option(const char* text);

// Option 1's identifier: exactly one, not empty, not the sentinel "0NULL", one that the reader
// can give back as stored (no more than it holds, no line feed, the key only in the key-line
// form "ro.vendor.sku.skuid=VALUE"), and one that can be published (UTF-8).
const char* identifier_refusal(int argc, const char* const* argv);
