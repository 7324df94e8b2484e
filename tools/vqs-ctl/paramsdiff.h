// Key-by-key differences between two parameter records, as their JSON documents
// name them ("generalParams.cycleTime", "flamParams.dsc1MidPLS1[3]").
#pragma once

#include <QJsonArray>
#include <QList>
#include <QString>

#include "vqs_records.h"

struct ParamChange {
    QString key;
    QString from;  // JSON text of the value; empty when the key is absent
    QString to;
};

QList<ParamChange> diffParams(const kernelParams_t& from, const kernelParams_t& to);
// "generalParams.cycleTime: 1 -> 2.5"
QString changeLine(const ParamChange& change);
// [{"key": ..., "from": value, "to": value}, ...]
QJsonArray changesToJson(const QList<ParamChange>& changes);
// The record as its JSON document, indented or on one line.
QByteArray paramsText(const kernelParams_t& params, bool formatted);
