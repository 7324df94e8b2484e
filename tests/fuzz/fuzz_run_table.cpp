// Any bytes as a run's customer table, fed whole and in two chunks split at a
// point the first byte picks: both must give the same table, every column
// must hold every row, the time column must stay finite, and each row must be
// found again at its line offset.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "runreader.h"
#include "runtable.h"

namespace {

// Each row's line, found again at its offset, reads as that row.
void check(const RunTable& table, const char* text, size_t size) {
    const size_t rows = table.rows();
    if (table.lineOffsets.size() != rows)
        std::abort();
    for (size_t i = 0; i < rows; ++i) {
        const char* begin = text + table.lineOffsets[i];
        const char* end = static_cast<const char*>(std::memchr(begin, '\n', size_t(text + size - begin)));
        if (!end)
            std::abort();
        if (end > begin && end[-1] == '\r')
            --end;
        if (table.lineOffsets[i] == 0 && end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0)
            begin += 3;
        RunRow row;
        if (!parseRunRow(begin, end, &row) || !sameRow(table, i, row))
            std::abort();
    }
    if (table.cycle.size() != rows || table.temperature.size() != rows || table.pressure.size() != rows ||
        table.humidity.size() != rows || table.gasId.size() != rows || table.concentration.size() != rows)
        std::abort();
    for (double t : table.seconds)
        if (!std::isfinite(t))
            std::abort();
    if (table.skippedLines.size() > RunTable::kMaxListedLines || int64_t(table.skippedLines.size()) > table.skippedCount)
        std::abort();
    (void)table.skippedSummary();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    RunTableParser whole;
    whole.feed(text, size);
    whole.finish();
    check(whole.table, text, size);

    const size_t split = size ? data[0] % (size + 1) : 0;
    RunTableParser chunked;
    chunked.feed(text, split);
    chunked.feed(text + split, size - split);
    chunked.finish();
    check(chunked.table, text, size);
    if (chunked.table.seconds != whole.table.seconds || chunked.table.lineOffsets != whole.table.lineOffsets || chunked.table.skippedCount != whole.table.skippedCount ||
        chunked.table.cutShortLine != whole.table.cutShortLine || chunked.table.header != whole.table.header)
        std::abort();

    // The same bytes as a time log.
    int skipped = 0;
    (void)parseTimeLog(QByteArray::fromRawData(text, int(size)), &skipped);
    return 0;
}
