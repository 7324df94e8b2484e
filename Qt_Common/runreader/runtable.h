// The customer table of a run (vqsData.csv) read back into compact columns.
// Any bytes are accepted: what is readable is kept, and what was skipped is
// counted by line number, so a run cut short by a crash or edited by hand
// still opens. Fed in chunks, so a big table never sits in memory as text.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "presentation.h"

struct RunTable {
    enum Unit { UnitUnknown, UnitLel, UnitPpm };

    Unit unit = UnitUnknown;
    bool headerKnown = false;    // one of the two headers the recorder writes
    QByteArray header;           // first line as found, when it is not a row

    // One entry per readable row. Floats hold the sensor's own single-precision
    // values; the time needs a double for long runs.
    std::vector<double> seconds;
    std::vector<int32_t> cycle;
    std::vector<float> temperature;
    std::vector<float> pressure;
    std::vector<float> humidity;
    std::vector<uint32_t> gasId;
    std::vector<float> concentration;
    bool timeSorted = true;  // times never decrease (the plots then skip a sort)
    // Where each row's line begins in the file: the rows can be shown as
    // written without keeping their text (runtablemodel.h).
    std::vector<int64_t> lineOffsets;

    // Rows that could not be read (wrong field count, a non-number); the
    // first kMaxListedLines line numbers are kept, all are counted.
    static constexpr size_t kMaxListedLines = 20;
    std::vector<int64_t> skippedLines;
    int64_t skippedCount = 0;
    // Line number of a last line without its line end (written when the
    // program stopped), 0 when the table ends cleanly.
    int64_t cutShortLine = 0;
    int64_t lineCount = 0;

    size_t rows() const { return seconds.size(); }
    presentation::RunUnit runUnit() const {
        return unit == UnitLel ? presentation::RunUnit::Lel
                               : unit == UnitPpm ? presentation::RunUnit::Ppm : presentation::RunUnit::Unknown;
    }
    // "Conc [%LEL]", "Conc [PPM]" or "Conc" for a table that does not say.
    QString concHeader() const;
    // One line on what was not read ("" when everything was), for example
    // "skipped 2 rows (lines 5, 9: missing or non-numeric fields); the last row (line 120) was cut short".
    QString skippedSummary() const;
};

class RunTableParser {
public:
    // Any split of the file into chunks gives the same table.
    void feed(const char* data, size_t size);
    // The end of the file: an unterminated last line is a row cut short.
    void finish();

    RunTable table;

private:
    void takeLine(const char* begin, const char* end, int64_t offset);
    void takeRow(const char* begin, const char* end, int64_t offset);
    void skip();

    QByteArray partial;        // a line begun in an earlier chunk
    int64_t partialOffset = 0;  // where that line begins in the file
    int64_t fed = 0;            // bytes fed before the current chunk
    bool finished = false;
};

// One row of the table as read from its line.
struct RunRow {
    static constexpr int kFields = 7;
    double seconds = 0;
    int32_t cycle = 0;
    float temperature = 0, pressure = 0, humidity = 0;
    uint32_t gasId = 0;
    float concentration = 0;
    // Each field's text as written in the parsed line, blanks around it removed.
    const char* fieldBegin[kFields] = {};
    const char* fieldEnd[kFields] = {};
};
// A line (without its line end) read as a row; false when it is none. A
// byte-order mark before the first line is left to the caller.
bool parseRunRow(const char* begin, const char* end, RunRow* row);
// The table's row `index` holds exactly the values of `row`.
bool sameRow(const RunTable& table, size_t index, const RunRow& row);

// Number fields as printf's %f, %d and %u write them (also nan and inf, as a
// sensor may report them); surrounding blanks are not part of the field.
bool parseDecimal(const char* begin, const char* end, double* value);
bool parseInt32(const char* begin, const char* end, int32_t* value);
bool parseUint32(const char* begin, const char* end, uint32_t* value);
