// Numbers of the run files on Windows after something in the process switched
// the C runtime to a decimal-comma locale: still '.', on any thread, and the
// process's own locale left as it was.
#include <windows.h>

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "cformat.h"

namespace {

int failures = 0;

std::string format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text;
    formatCLocale(&text, format, args);
    va_end(args);
    return text;
}

void expect(const std::string& got, const char* want, const char* what) {
    const bool ok = got == want;
    std::printf("%s %s: '%s'\n", ok ? "ok  " : "FAIL", what, got.c_str());
    failures += ok ? 0 : 1;
}

const char* const kRow = "%f, %d, %f, %u, %s";
const char* const kWant = "2.750000, 7, -101.375000, 3, a,b";

DWORD WINAPI otherThread(LPVOID result) {
    *static_cast<std::string*>(result) = format(kRow, 2.75, 7, -101.375, 3u, "a,b");
    return 0;
}

std::string plainFloat() {
    char text[32];
    std::snprintf(text, sizeof text, "%f", 2.75);
    return text;
}

}  // namespace

int main() {
    if (!std::setlocale(LC_ALL, "German_Germany.1252") || plainFloat() != "2,750000") {
        std::printf("FAIL no decimal-comma locale to test with (plain %%f gives '%s')\n", plainFloat().c_str());
        return 1;
    }
    expect(format(kRow, 2.75, 7, -101.375, 3u, "a,b"), kWant, "run-file row on the main thread");
    std::string fromThread;
    HANDLE thread = CreateThread(nullptr, 0, otherThread, &fromThread, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    expect(fromThread, kWant, "run-file row on another thread");
    expect(plainFloat(), "2,750000", "the process's locale left as it was");
    return failures == 0 ? 0 : 1;
}
