#pragma once
// The application's one error log: one line per failure on standard output, written under one
// process-wide mutex. Safe to call from any thread; it never stops the caller.

#include <functional>

// Longest message kept in the shared buffer, terminator included; longer messages are cut.
constexpr int kLogErrorBufferSize = 1024;

// Writes "ERROR: <message>\t(<source path>:<line>)\n" to standard output and flushes it.
// Format and arguments follow printf.
void LogError(const char* SourceFile, int Line, const char* Format, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Observer that sees every line exactly as written (tests collect log lines with it). Called
// under the log's mutex on the logging thread; pass an empty function to remove it.
void SetLogErrorObserver(std::function<void(const char* Line)> Observer);

// Callers write LOG_ERROR("Could not open file: %s", path) and the macro adds file and line.
#define LOG_ERROR(...) LogError(__FILE__, __LINE__, __VA_ARGS__)
