#include "cformat.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <locale.h>

namespace {

#ifdef _WIN32
// Qt leaves the C runtime in its "C" locale on Windows, so numbers come out
// right unless something in the process called setlocale. Then this thread
// alone is switched to "C" numbers for the call and back afterwards.
class CNumbers {
public:
    CNumbers() {
        if (std::strcmp(std::localeconv()->decimal_point, ".") == 0)
            return;
        mode = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        previous = current ? current : "C";
        std::setlocale(LC_NUMERIC, "C");
        switched = true;
    }
    ~CNumbers() {
        if (!switched)
            return;
        std::setlocale(LC_NUMERIC, previous.c_str());
        _configthreadlocale(mode);
    }
    CNumbers(const CNumbers&) = delete;
    CNumbers& operator=(const CNumbers&) = delete;

private:
    bool switched = false;
    int mode = 0;
    std::string previous;
};
#else
// QCoreApplication calls setlocale(LC_ALL, "") on Unix, so printf would follow
// the user's LC_NUMERIC ("2,755000" under de_DE). uselocale changes only the
// calling thread, for the call.
locale_t cLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return c;
}

class CNumbers {
public:
    CNumbers() : previous(cLocale() ? uselocale(cLocale()) : locale_t(nullptr)) {}
    ~CNumbers() {
        if (previous)
            uselocale(previous);
    }
    CNumbers(const CNumbers&) = delete;
    CNumbers& operator=(const CNumbers&) = delete;

private:
    locale_t previous;
};
#endif

}  // namespace

bool formatCLocale(std::string* out, const char* format, va_list args) {
    out->clear();
    const CNumbers numbers;
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0)
        return false;
    out->resize(size_t(length) + 1);
    std::vsnprintf(&(*out)[0], out->size(), format, args);
    out->resize(size_t(length));
    return true;
}
