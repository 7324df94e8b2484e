#include "runtablemodel.h"

#include <QFile>

#include <algorithm>
#include <cstring>

#include "presentation.h"
#include "runtable.h"

namespace {

enum Column { Time, Cycle, Temperature, Pressure, Humidity, Gas, Concentration, ColumnCount };

// Rows read from the file at once, and blocks kept: a view shows a few dozen.
constexpr int kBlockRows = 256;
constexpr size_t kBlocksKept = 4;
// A row's line is far shorter; a longer one is not read for its text.
constexpr qint64 kMaxLineBytes = 4096;

}  // namespace

RunTableModel::RunTableModel(const RunTable* table, const QString& path, QObject* parent)
    : QAbstractTableModel(parent), table(table), path(path) {}

int RunTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(table->rows());
}

int RunTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const QStringList& RunTableModel::writtenFields(int row) const {
    const int first = row - row % kBlockRows;
    auto found = blocks.find(first);
    if (found == blocks.end()) {
        const int last = std::min(first + kBlockRows, int(table->rows()));
        std::vector<QStringList> rows(size_t(last - first));
        QFile file(path);
        const qint64 start = table->lineOffsets[size_t(first)];
        const qint64 end = last < int(table->rows()) ? table->lineOffsets[size_t(last)]
                                                     : table->lineOffsets[size_t(last - 1)] + kMaxLineBytes;
        if (file.open(QIODevice::ReadOnly) && file.seek(start)) {
            const QByteArray bytes = file.read(end - start);
            for (int r = first; r < last; ++r) {
                const qint64 at = table->lineOffsets[size_t(r)] - start;
                if (at >= bytes.size())
                    break;
                const char* begin = bytes.constData() + at;
                const char* stop = bytes.constData() + bytes.size();
                const char* newline = static_cast<const char*>(std::memchr(begin, '\n', size_t(stop - begin)));
                if (!newline)
                    break;
                const char* lineEnd = newline > begin && newline[-1] == '\r' ? newline - 1 : newline;
                if (table->lineOffsets[size_t(r)] == 0 && lineEnd - begin >= 3 &&
                    std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0)
                    begin += 3;
                RunRow parsed;
                // A file changed since it was read shows the values read instead.
                if (!parseRunRow(begin, lineEnd, &parsed) || !sameRow(*table, size_t(r), parsed))
                    continue;
                QStringList& fields = rows[size_t(r - first)];
                for (int i = 0; i < RunRow::kFields; ++i)
                    fields << QString::fromLatin1(parsed.fieldBegin[i], int(parsed.fieldEnd[i] - parsed.fieldBegin[i]));
            }
        }
        if (blockOrder.size() >= kBlocksKept) {
            blocks.erase(blockOrder.front());
            blockOrder.erase(blockOrder.begin());
        }
        blockOrder.push_back(first);
        found = blocks.emplace(first, std::move(rows)).first;
    }
    return found->second[size_t(row - first)];
}

QString RunTableModel::formatted(int row, int column) const {
    const size_t r = size_t(row);
    switch (column) {
        case Time:
            return QString::number(table->seconds[r], 'f', 6);
        case Cycle:
            return QString::number(table->cycle[r]);
        case Temperature:
            return QString::number(double(table->temperature[r]), 'f', 6);
        case Pressure:
            return QString::number(double(table->pressure[r]), 'f', 6);
        case Humidity:
            return QString::number(double(table->humidity[r]), 'f', 6);
        case Gas:
            return QString::number(table->gasId[r]);
        case Concentration:
            return QString::number(double(table->concentration[r]), 'f', 6);
        default:
            return QString();
    }
}

QVariant RunTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= table->rows() || index.column() >= ColumnCount)
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    // The text as the file holds it: values never pass through a float on their way to the user.
    const QStringList& fields = writtenFields(index.row());
    const QString text = fields.isEmpty() ? formatted(index.row(), index.column()) : fields[index.column()];
    if (index.column() != Gas)
        return text;
    // The code as the file holds it, with the gas it names.
    const char* name = presentation::gasName(table->gasId[size_t(index.row())]);
    return name ? QStringLiteral("%1 %2").arg(text, QLatin1String(name)) : text;
}

QVariant RunTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    static const char* const kNames[] = {"Time [s]", "Cycle", "T [C]", "P [kPa]", "RH [%]", "Gas ID"};
    if (section == Concentration)
        return table->concHeader();
    if (section >= 0 && section < Concentration)
        return QLatin1String(kNames[section]);
    return QVariant();
}
