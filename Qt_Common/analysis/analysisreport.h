// Response times for people (plain text) and for scripts (JSON).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "response.h"

// One line for the settings, then one line per step, e.g.
//   Gas on at 40.512 s (cycle 41): rise t50 3.5 s, t90 11.5 s (baseline 0.000, settled 50.000 %LEL from 97.0 s)
//   Gas off at 160.000 s (cycle 161): fall: no response time, not settled before the run's end (...)
QString responseText(const QList<StepResponse>& steps, const QString& unit = QString());

// {"directory", "unit", "steps": [{"mark", "cycle", "markTime", "kind", "settings": {"baselineSeconds",
//  "slopeWindowSeconds", "slopeBandPerSecond", "holdSeconds", "smoothSeconds"}, "baseline", "settled",
//  "settledFrom", "t50", "t90" | "t10", "problem", "reason"}]}
// Times in seconds (after the mark; markTime and settledFrom since the run's start), three
// decimals; a step without response times has them null, its "problem" (no-baseline,
// no-readings, no-change, not-settled, not-reached) and "reason"; "problem" is null otherwise.
// "directory" and "unit" are left out when empty.
QByteArray responseJson(const QList<StepResponse>& steps, const QString& directory = QString(),
                        const QString& unit = QString());
