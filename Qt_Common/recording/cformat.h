// printf-style formatting as the "C" locale formats, whatever locale the
// process runs under: run files must read the same for every user. Qt-free.
#pragma once

#include <cstdarg>
#include <string>

// vsnprintf into `out` with '.' as the decimal point; false (and `out`
// emptied) when the format cannot be formatted.
bool formatCLocale(std::string* out, const char* format, va_list args);
