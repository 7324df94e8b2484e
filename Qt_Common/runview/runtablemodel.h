// The rows of a run's customer table for a QTableView, read straight from
// the table's columns: a million rows cost no item objects.
#pragma once

#include <QAbstractTableModel>

struct RunTable;

class RunTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // The table must outlive the model.
    explicit RunTableModel(const RunTable* table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const RunTable* table;
};
