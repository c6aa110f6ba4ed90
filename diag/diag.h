// SPDX-License-Identifier: Apache-2.0

// The diagnostic channel: the debug switch, the step markers and the log-and-print pair.
//
// Everything the command reports goes through here, and nothing is reported unless the debug
// switch is on. A report is a pair: one record in the Android log (tag "zel_init_sku") and the
// same text on standard output, so that a developer sees it both in logcat and on the console
// of a shell that ran the command by hand.
#pragma once

#include <android/log.h>

// The debug switch: set at the start of a run when "sys.vendor.sku.debug" reads exactly "yes";
// never reset.
extern bool sku_debug;

inline constexpr char DEBUG_KEY[] = "sys.vendor.sku.debug";
inline constexpr char STEP_KEY[] = "sys.vendor.sku.step";

// True when the property's whole value is exactly "yes"; anything else, unset included, is off.
bool is_switch_on(const char* key);

// Records progress in "sys.vendor.sku.step", when the switch is on.
void set_step(const char* marker);

// With the switch on: logs the formatted message at `priority` (ANDROID_LOG_DEBUG or
// ANDROID_LOG_ERROR), then prints the same text.
void sku_report(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

// As sku_report, but prints first and logs second (the order the reader has always used).
void sku_report_print_first(int priority, const char* format, ...)
        __attribute__((format(printf, 2, 3)));

// With the switch on: logs `log_text` and prints `printed_line`, for the one report whose two
// halves differ.
void sku_report_texts(int priority, const char* log_text, const char* printed_line);

// Prints `text` and a line feed on standard output only, whatever the switch says.
void sku_print_line(const char* text);
