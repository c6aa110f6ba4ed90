// SPDX-License-Identifier: Apache-2.0

// The tag of every log record, defined the platform's way: before any include, so that the log
// library's own macros would use it too.
#define LOG_TAG "zel_init_sku"

#include "diag/diag.h"

#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <android/log.h>
#include <cutils/properties.h>

bool sku_debug = false;

bool is_switch_on(const char* key) {
    char value[PROPERTY_VALUE_MAX] = {};
    property_get(key, value, "null");
    return strcmp(value, "yes") == 0;
}

void set_step(const char* marker) {
    if (!sku_debug) return;
    property_set(STEP_KEY, marker);
}

namespace {

// Large enough for every message: the longest argument is a 199-character chunk of the
// identifier file. The log library itself cuts records at about 4 KiB.
constexpr size_t MESSAGE_MAX = 1024;

// A run must never die of its own diagnostics: printing to a pipe whose reader has gone (or, on
// a host, logging to one) would raise SIGPIPE, and printing to a file past a file-size limit
// (ulimit -f) SIGXFSZ, and either would kill the run before it did its work. A failed print is
// ignored like a failed log write. Only runs that report pay the system calls; the every-boot
// run, with the switch off, reports nothing.
void ignore_output_signals() {
    static bool ignored = false;
    if (ignored) return;
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    ignored = true;
}

void log_message(int priority, const char* message) {
    __android_log_print(priority, LOG_TAG, "%s", message);
}

// stdout is flushed after every line so that, when stdout and the log share a console, the
// lines keep the order in which they were emitted.
void print_message(const char* message) {
    fputs(message, stdout);
    fflush(stdout);
}

void emit(int priority, bool print_first, const char* format, va_list args) {
    char message[MESSAGE_MAX];
    // The callers start and end `args`; the analyzer cannot see that through a parameter.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    vsnprintf(message, sizeof(message), format, args);
    ignore_output_signals();
    if (print_first) print_message(message);
    log_message(priority, message);
    if (!print_first) print_message(message);
}

}  // namespace

void sku_report(int priority, const char* format, ...) {
    if (!sku_debug) return;
    va_list args;
    va_start(args, format);
    emit(priority, false, format, args);
    va_end(args);
}

void sku_report_print_first(int priority, const char* format, ...) {
    if (!sku_debug) return;
    va_list args;
    va_start(args, format);
    emit(priority, true, format, args);
    va_end(args);
}

void sku_report_texts(int priority, const char* log_text, const char* printed_line) {
    if (!sku_debug) return;
    ignore_output_signals();
    log_message(priority, log_text);
    sku_print_line(printed_line);
}

void sku_print_line(const char* text) {
    ignore_output_signals();
    puts(text);
    fflush(stdout);
}
