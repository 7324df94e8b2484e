// The rows of a run's customer table for a QTableView, read straight from
// the table's columns: a million rows cost no item objects. Cells show the
// file's own text, read again from the file for the rows in view; a row the
// file no longer holds as read is shown from the values read.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>

#include <map>

struct RunTable;

class RunTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // The table must outlive the model; `path` is the file it was read from.
    RunTableModel(const RunTable* table, const QString& path, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    // The fields of `row` as written, empty when the file no longer holds it.
    const QStringList& writtenFields(int row) const;
    QString formatted(int row, int column) const;

    const RunTable* table;
    QString path;
    // Blocks of rows read from the file, by their first row; a few are kept.
    mutable std::map<int, std::vector<QStringList>> blocks;
    mutable std::vector<int> blockOrder;
};
