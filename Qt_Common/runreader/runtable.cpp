#include "runtable.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The two headers the recorder writes; the unit follows the sensor type.
const char kHeaderLel[] = "Time [s], Cycle , T [C], P [kPa], RH [%], Gas ID , Conc [%LEL]";
const char kHeaderPpm[] = "Time [s], Cycle , T [C], P [kPa], RH [%], Gas ID , Conc [PPM]";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

void trim(const char*& begin, const char*& end) {
    while (begin < end && isBlank(*begin))
        ++begin;
    while (end > begin && isBlank(end[-1]))
        --end;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool startsWithWord(const char* begin, const char* end, const char* word) {
    const size_t n = std::strlen(word);
    if (size_t(end - begin) < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (lower(begin[i]) != word[i])
            return false;
    return true;
}

// nan, nan(ind), inf, infinity: what C runtimes print for non-finite values.
bool parseNonFinite(const char* p, const char* end, bool negative, double* value) {
    if (startsWithWord(p, end, "nan")) {
        p += 3;
        if (p < end && *p == '(') {
            const char* close = static_cast<const char*>(std::memchr(p, ')', size_t(end - p)));
            if (!close)
                return false;
            p = close + 1;
        }
        if (p != end)
            return false;
        *value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (startsWithWord(p, end, "infinity"))
        p += 8;
    else if (startsWithWord(p, end, "inf"))
        p += 3;
    else
        return false;
    if (p != end)
        return false;
    *value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
}

// Values beyond float's range (only in a damaged file) become infinite
// rather than an undefined conversion.
float toFloat(double v) {
    if (v > double(std::numeric_limits<float>::max()))
        return std::numeric_limits<float>::infinity();
    if (v < -double(std::numeric_limits<float>::max()))
        return -std::numeric_limits<float>::infinity();
    return float(v);
}

}  // namespace

bool parseDecimal(const char* begin, const char* end, double* value) {
    trim(begin, end);
    if (begin == end)
        return false;
    const char* p = begin;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (p < end && !isDigit(*p) && *p != '.')
        return parseNonFinite(p, end, negative, value);

    // Digits into one integer mantissa; exact while it stays below 2^53, and
    // one division by an exact power of ten then rounds once, as strtod does.
    static const double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    constexpr uint64_t kExactLimit = uint64_t(1) << 53;
    uint64_t mantissa = 0;
    int fractionDigits = 0;
    int digits = 0;
    bool exact = true;
    bool point = false;
    for (; p < end; ++p) {
        if (isDigit(*p)) {
            ++digits;
            if (exact) {
                mantissa = mantissa * 10 + uint64_t(*p - '0');
                if (mantissa >= kExactLimit)
                    exact = false;
                if (point)
                    ++fractionDigits;
            }
        } else if (*p == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0)
        return false;
    if (p == end && exact && fractionDigits <= 22) {
        const double v = double(mantissa) / kPow10[fractionDigits];
        *value = negative ? -v : v;
        return true;
    }
    // Long mantissas and exponents are rare here: the slow, exact way.
    bool ok = false;
    const double v = QByteArray(begin, int(end - begin)).toDouble(&ok);
    if (ok)
        *value = v;
    return ok;
}

bool parseInt32(const char* begin, const char* end, int32_t* value) {
    trim(begin, end);
    const bool negative = begin < end && *begin == '-';
    if (begin < end && (*begin == '-' || *begin == '+'))
        ++begin;
    if (begin == end || end - begin > 10)
        return false;
    int64_t v = 0;
    for (const char* p = begin; p < end; ++p) {
        if (!isDigit(*p))
            return false;
        v = v * 10 + (*p - '0');
    }
    if (negative)
        v = -v;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        return false;
    *value = int32_t(v);
    return true;
}

bool parseUint32(const char* begin, const char* end, uint32_t* value) {
    trim(begin, end);
    if (begin < end && *begin == '+')
        ++begin;
    if (begin == end || end - begin > 10)
        return false;
    uint64_t v = 0;
    for (const char* p = begin; p < end; ++p) {
        if (!isDigit(*p))
            return false;
        v = v * 10 + uint64_t(*p - '0');
    }
    if (v > std::numeric_limits<uint32_t>::max())
        return false;
    *value = uint32_t(v);
    return true;
}

QString RunTable::concHeader() const {
    return presentation::runConcColumn(runUnit());
}

QString RunTable::skippedSummary() const {
    QStringList parts;
    if (!header.isEmpty() && !headerKnown) {
        // Quoted only when it is readable text, and not at length: a file of
        // other bytes must not fill the user's screen with them.
        QString text = QString::fromUtf8(header);
        const bool readable = std::all_of(text.cbegin(), text.cend(), [](QChar c) {
            return c.isPrint() && c != QChar::ReplacementCharacter;
        });
        if (text.size() > 40)
            text = text.left(40) + QStringLiteral("...");
        parts << QStringLiteral("header not recognised (%1), columns read as Time, Cycle, T, P, RH, Gas ID, Conc")
                     .arg(readable ? QStringLiteral("\"%1\"").arg(text) : QStringLiteral("not text"));
    }
    if (skippedCount > 0) {
        QStringList lines;
        for (int64_t line : skippedLines)
            lines << QString::number(line);
        if (skippedCount > int64_t(skippedLines.size()))
            lines << QStringLiteral("...");
        parts << QStringLiteral("skipped %1 row%2 (line%3 %4: missing or non-numeric fields)")
                     .arg(skippedCount)
                     .arg(skippedCount == 1 ? "" : "s")
                     .arg(skippedCount == 1 ? "" : "s")
                     .arg(lines.join(QStringLiteral(", ")));
    }
    if (cutShortLine > 0)
        parts << QStringLiteral("the last row (line %1) was cut short and is left out").arg(cutShortLine);
    return parts.join(QStringLiteral("; "));
}

void RunTableParser::feed(const char* data, size_t size) {
    if (finished)
        return;
    const char* p = data;
    const char* end = data + size;
    while (p < end) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!newline) {
            if (partial.isEmpty())
                partialOffset = fed + (p - data);
            partial.append(p, int(end - p));
            break;
        }
        if (partial.isEmpty()) {
            takeLine(p, newline, fed + (p - data));
        } else {
            partial.append(p, int(newline - p));
            takeLine(partial.constData(), partial.constData() + partial.size(), partialOffset);
            partial.clear();
        }
        p = newline + 1;
    }
    fed += int64_t(size);
}

void RunTableParser::finish() {
    if (finished)
        return;
    finished = true;
    if (partial.isEmpty())
        return;
    // The recorder ends every row with its line end, so a last line without
    // one is a row the program did not finish writing: never show it.
    const char* begin = partial.constData();
    const char* end = begin + partial.size();
    trim(begin, end);
    ++table.lineCount;
    if (begin != end && !(end - begin == 1 && *begin == '\r'))
        table.cutShortLine = table.lineCount;
    partial.clear();
}

void RunTableParser::takeLine(const char* begin, const char* end, int64_t offset) {
    ++table.lineCount;
    if (end > begin && end[-1] == '\r')
        --end;
    const char* b = begin;
    const char* e = end;
    // A spreadsheet that saved the table again may have put a UTF-8 byte-order mark first.
    if (table.lineCount == 1 && e - b >= 3 && std::memcmp(b, "\xEF\xBB\xBF", 3) == 0)
        b += 3;
    trim(b, e);
    if (b == e)
        return;  // an empty line holds nothing to lose
    if (table.lineCount == 1 && !isDigit(*b) && *b != '-' && *b != '+' && *b != '.') {
        table.header = QByteArray(b, int(e - b));
        if (table.header == kHeaderLel) {
            table.unit = RunTable::UnitLel;
            table.headerKnown = true;
        } else if (table.header == kHeaderPpm) {
            table.unit = RunTable::UnitPpm;
            table.headerKnown = true;
        }
        return;
    }
    takeRow(b, e, offset);
}

void RunTableParser::takeRow(const char* begin, const char* end, int64_t offset) {
    RunRow row;
    if (!parseRunRow(begin, end, &row))
        return skip();
    if (!table.seconds.empty() && !(row.seconds >= table.seconds.back()))
        table.timeSorted = false;
    table.seconds.push_back(row.seconds);
    table.cycle.push_back(row.cycle);
    table.temperature.push_back(row.temperature);
    table.pressure.push_back(row.pressure);
    table.humidity.push_back(row.humidity);
    table.gasId.push_back(row.gasId);
    table.concentration.push_back(row.concentration);
    table.lineOffsets.push_back(offset);
}

bool parseRunRow(const char* begin, const char* end, RunRow* row) {
    constexpr int kFields = RunRow::kFields;
    const char* fields[kFields + 1];
    int count = 0;
    fields[count++] = begin;
    for (const char* p = begin; p < end; ++p) {
        if (*p == ',') {
            if (count == kFields)
                return false;
            fields[count++] = p + 1;
        }
    }
    if (count != kFields)
        return false;
    fields[kFields] = end + 1;
    for (int i = 0; i < kFields; ++i) {
        const char* b = fields[i];
        const char* e = fields[i + 1] - 1;
        trim(b, e);
        row->fieldBegin[i] = b;
        row->fieldEnd[i] = e;
    }
    auto field = [&](int i, auto parse, auto* value) { return parse(row->fieldBegin[i], row->fieldEnd[i], value); };
    double t, pr, rh, conc;
    if (!field(0, parseDecimal, &row->seconds) || !field(1, parseInt32, &row->cycle) || !field(2, parseDecimal, &t) ||
        !field(3, parseDecimal, &pr) || !field(4, parseDecimal, &rh) || !field(5, parseUint32, &row->gasId) ||
        !field(6, parseDecimal, &conc) || !std::isfinite(row->seconds))
        return false;  // a time that is no point on the time axis places nothing
    row->temperature = toFloat(t);
    row->pressure = toFloat(pr);
    row->humidity = toFloat(rh);
    row->concentration = toFloat(conc);
    return true;
}

namespace {

// Equal values, NaN equal to NaN.
template <typename T>
bool same(T a, T b) {
    return a == b || (std::isnan(double(a)) && std::isnan(double(b)));
}

}  // namespace

bool sameRow(const RunTable& table, size_t i, const RunRow& row) {
    return i < table.rows() && same(table.seconds[i], row.seconds) && table.cycle[i] == row.cycle &&
           same(table.temperature[i], row.temperature) && same(table.pressure[i], row.pressure) &&
           same(table.humidity[i], row.humidity) && table.gasId[i] == row.gasId &&
           same(table.concentration[i], row.concentration);
}

void RunTableParser::skip() {
    ++table.skippedCount;
    if (table.skippedLines.size() < RunTable::kMaxListedLines)
        table.skippedLines.push_back(table.lineCount);
}
