// Flattening parameter documents into keyed values and comparing them.
#include "paramsdiff.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPair>

#include <cjson/cJSON.h>

#include <memory>

#include "vqs.h"

namespace {

using Leaves = QList<QPair<QString, QString>>;  // key, JSON text of the value, in document order

struct JsonDeleter {
    void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

QString printed(const cJSON* item) {
    char* text = cJSON_PrintUnformatted(item);
    const QString result = QString::fromUtf8(text ? text : "");
    cJSON_free(text);
    return result;
}

void flatten(const cJSON* item, const QString& key, Leaves* out) {
    if (cJSON_IsObject(item) && item->child) {
        for (const cJSON* child = item->child; child; child = child->next) {
            const QString name = QString::fromUtf8(child->string);
            flatten(child, key.isEmpty() ? name : key + '.' + name, out);
        }
    } else if (cJSON_IsArray(item) && item->child) {
        int index = 0;
        for (const cJSON* child = item->child; child; child = child->next)
            flatten(child, QStringLiteral("%1[%2]").arg(key).arg(index++), out);
    } else {
        out->append({key, printed(item)});
    }
}

Leaves leavesOf(const kernelParams_t& params) {
    JsonPtr document(paramsToJson(&params));
    Leaves leaves;
    flatten(document.get(), QString(), &leaves);
    return leaves;
}

QJsonValue jsonValue(const QString& text) {
    if (text.isEmpty())
        return QJsonValue();
    return QJsonDocument::fromJson('[' + text.toUtf8() + ']').array().at(0);
}

}  // namespace

QList<ParamChange> diffParams(const kernelParams_t& from, const kernelParams_t& to) {
    // Both documents come from the same conversion, so they hold the same keys in the same order.
    const Leaves before = leavesOf(from);
    const Leaves after = leavesOf(to);
    QList<ParamChange> changes;
    for (int i = 0; i < qMax(before.size(), after.size()); ++i) {
        const QString key = i < after.size() ? after[i].first : before[i].first;
        const QString old = i < before.size() ? before[i].second : QString();
        const QString now = i < after.size() ? after[i].second : QString();
        if (old != now)
            changes.append({key, old, now});
    }
    return changes;
}

QString changeLine(const ParamChange& change) {
    return QStringLiteral("%1: %2 -> %3").arg(change.key, change.from, change.to);
}

QJsonArray changesToJson(const QList<ParamChange>& changes) {
    QJsonArray array;
    for (const ParamChange& change : changes)
        array.append(QJsonObject{{QStringLiteral("key"), change.key},
                                 {QStringLiteral("from"), jsonValue(change.from)},
                                 {QStringLiteral("to"), jsonValue(change.to)}});
    return array;
}

QByteArray paramsText(const kernelParams_t& params, bool formatted) {
    JsonPtr document(paramsToJson(&params));
    char* text = formatted ? cJSON_Print(document.get()) : cJSON_PrintUnformatted(document.get());
    const QByteArray result(text ? text : "");
    cJSON_free(text);
    return result;
}
