#include "Common/LogError.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>

namespace
{
std::mutex& LogMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Shared by every caller; only touched while the mutex is held.
char gMessage[kLogErrorBufferSize];
char gLine[kLogErrorBufferSize + 512];
std::function<void(const char*)> gObserver;
} // namespace

void LogError(const char* SourceFile, int Line, const char* Format, ...)
{
    std::lock_guard<std::mutex> lock(LogMutex());

    gMessage[0] = '\0';
    if (Format)
    {
        va_list args;
        va_start(args, Format);
        // vsnprintf never writes past the buffer and always terminates it: long messages are cut.
        const int written = std::vsnprintf(gMessage, sizeof gMessage, Format, args);
        va_end(args);
        if (written < 0)
            gMessage[0] = '\0';
    }

    const int length = std::snprintf(gLine, sizeof gLine, "ERROR: %s\t(%s:%d)\n", gMessage, SourceFile ? SourceFile : "?", Line);
    if (length >= static_cast<int>(sizeof gLine))
    {
        // An absurdly long source path: keep the line a line.
        gLine[sizeof gLine - 2] = '\n';
        gLine[sizeof gLine - 1] = '\0';
    }
    std::fputs(gLine, stdout);
    std::fflush(stdout);
    if (gObserver)
        gObserver(gLine);
}

void SetLogErrorObserver(std::function<void(const char*)> Observer)
{
    std::lock_guard<std::mutex> lock(LogMutex());
    gObserver = std::move(Observer);
}
