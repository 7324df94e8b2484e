#include "analysisreport.h"

#include <cjson/cJSON.h>

#include <cmath>

namespace {

QString fixed(double value, int decimals) {
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QStringLiteral("-");
}

QString settingsText(const ResponseSettings& s) {
    return QStringLiteral("Settings: baseline %1 s before the mark; settled once the slope over %2 s stays within "
                          "%3 % of the step per second for %4 s; crossings smoothed over %5 s")
        .arg(s.baselineSeconds)
        .arg(s.slopeWindowSeconds)
        .arg(s.slopeBand * 100.0)
        .arg(s.holdSeconds)
        .arg(s.smoothSeconds);
}

// Rounded so that the document shows what the measurement can tell (cJSON
// prints up to 17 digits, and never by the locale).
double rounded(double value, double scale) {
    return std::round(value * scale) / scale;
}

void addNumberOrNull(cJSON* object, const char* key, double value, double scale) {
    if (std::isfinite(value))
        cJSON_AddNumberToObject(object, key, rounded(value, scale));
    else
        cJSON_AddNullToObject(object, key);
}

}  // namespace

QString responseText(const QList<StepResponse>& steps, const QString& unit) {
    QString out;
    if (steps.isEmpty())
        return QStringLiteral("No \"Gas on\" or \"Gas off\" mark in the time log.\n");
    out += settingsText(steps.first().settings) + '\n';
    const QString unitText = unit.isEmpty() ? QString() : ' ' + unit;
    for (const StepResponse& step : steps) {
        QString line = QStringLiteral("%1 at %2 s (cycle %3): %4")
                           .arg(step.mark.text, fixed(step.mark.seconds, 3))
                           .arg(step.mark.cycle)
                           .arg(step.kind == StepResponse::Rise ? QStringLiteral("rise") : QStringLiteral("fall"));
        if (step.ok()) {
            QStringList times;
            for (const ResponseTime& time : step.times)
                times << QStringLiteral("%1 %2 s").arg(time.name, fixed(time.seconds, 1));
            line += ' ' + times.join(QStringLiteral(", ")) +
                    QStringLiteral(" (baseline %1, settled %2%3 from %4 s)")
                        .arg(fixed(step.baseline, 3), fixed(step.settled, 3), unitText, fixed(step.settledFrom, 1));
        } else {
            line += QStringLiteral(": no response time, ") + step.reason;
        }
        out += line + '\n';
    }
    return out;
}

QByteArray responseJson(const QList<StepResponse>& steps, const QString& directory, const QString& unit) {
    cJSON* doc = cJSON_CreateObject();
    if (!directory.isEmpty())
        cJSON_AddStringToObject(doc, "directory", directory.toUtf8().constData());
    if (!unit.isEmpty())
        cJSON_AddStringToObject(doc, "unit", unit.toUtf8().constData());
    cJSON* list = cJSON_AddArrayToObject(doc, "steps");
    for (const StepResponse& step : steps) {
        cJSON* item = cJSON_CreateObject();
        cJSON_AddStringToObject(item, "mark", step.mark.text.toUtf8().constData());
        cJSON_AddNumberToObject(item, "cycle", step.mark.cycle);
        addNumberOrNull(item, "markTime", step.mark.seconds, 1e3);
        cJSON_AddStringToObject(item, "kind", step.kind == StepResponse::Rise ? "rise" : "fall");
        cJSON* settings = cJSON_AddObjectToObject(item, "settings");
        cJSON_AddNumberToObject(settings, "baselineSeconds", step.settings.baselineSeconds);
        cJSON_AddNumberToObject(settings, "slopeWindowSeconds", step.settings.slopeWindowSeconds);
        cJSON_AddNumberToObject(settings, "slopeBandPerSecond", step.settings.slopeBand);
        cJSON_AddNumberToObject(settings, "holdSeconds", step.settings.holdSeconds);
        cJSON_AddNumberToObject(settings, "smoothSeconds", step.settings.smoothSeconds);
        addNumberOrNull(item, "baseline", step.baseline, 1e6);
        addNumberOrNull(item, "settled", step.settled, 1e6);
        addNumberOrNull(item, "settledFrom", step.settledFrom, 1e3);
        for (const ResponseTime& time : step.times)
            addNumberOrNull(item, time.name.toLatin1().constData(), time.seconds, 1e3);
        if (step.ok()) {
            cJSON_AddNullToObject(item, "problem");
        } else {
            cJSON_AddStringToObject(item, "problem", StepResponse::problemName(step.problem));
            cJSON_AddStringToObject(item, "reason", step.reason.toUtf8().constData());
        }
        cJSON_AddItemToArray(list, item);
    }
    char* text = cJSON_Print(doc);
    QByteArray out(text ? text : "{}");
    out += '\n';
    cJSON_free(text);
    cJSON_Delete(doc);
    return out;
}
