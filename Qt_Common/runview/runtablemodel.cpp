#include "runtablemodel.h"

#include "runtable.h"
#include "vqs.h"

namespace {

enum Column { Time, Cycle, Temperature, Pressure, Humidity, Gas, Concentration, ColumnCount };

}  // namespace

RunTableModel::RunTableModel(const RunTable* table, QObject* parent) : QAbstractTableModel(parent), table(table) {}

int RunTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(table->rows());
}

int RunTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RunTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= table->rows())
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    const size_t row = size_t(index.row());
    // Six decimals, as the file holds them.
    switch (index.column()) {
        case Time:
            return QString::number(table->seconds[row], 'f', 6);
        case Cycle:
            return table->cycle[row];
        case Temperature:
            return QString::number(double(table->temperature[row]), 'f', 6);
        case Pressure:
            return QString::number(double(table->pressure[row]), 'f', 6);
        case Humidity:
            return QString::number(double(table->humidity[row]), 'f', 6);
        case Gas: {
            // The code as the file holds it, with the gas it names.
            const uint32_t id = table->gasId[row];
            const char* name = gasTableText(id);
            return name ? QStringLiteral("%1 %2").arg(id).arg(QLatin1String(name)) : QString::number(id);
        }
        case Concentration:
            return QString::number(double(table->concentration[row]), 'f', 6);
        default:
            return QVariant();
    }
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
