#include "gasmarks.h"

#include <QRegularExpression>

#include "presentation.h"

#include <algorithm>
#include <cmath>

namespace {

const QString kGasOn = QStringLiteral("Gas on");
const QString kGasOff = QStringLiteral("Gas off");

}  // namespace

QString gasMarkEvent(GasMark::Kind kind, int cycle, double seconds, const QString& note) {
    QString text = kind == GasMark::GasOn ? kGasOn : kind == GasMark::GasOff ? kGasOff : note;
    if (kind == GasMark::Note) {
        text.replace(QRegularExpression(QStringLiteral("[\\r\\n]+")), QStringLiteral(" "));
        text = text.trimmed();
    }
    // QString::number never follows the locale: the decimal point is always '.'.
    return QStringLiteral("Cycle %1: %2 (%3 s)").arg(cycle).arg(text, QString::number(seconds, 'f', 3));
}

bool parseGasMark(const QString& event, GasMark* mark) {
    static const QRegularExpression form(
        QStringLiteral("^Cycle (\\d{1,9}): (.*?)(?: \\((-?\\d+(?:\\.\\d*)?) s\\))?$"));
    const QRegularExpressionMatch match = form.match(event.trimmed());
    if (!match.hasMatch())
        return false;
    GasMark m;
    m.cycle = match.captured(1).toInt();
    m.text = match.captured(2).trimmed();
    if (match.capturedLength(3) > 0) {
        bool ok = false;
        m.seconds = match.captured(3).toDouble(&ok);  // C locale, whatever the process's
        m.exactTime = ok && std::isfinite(m.seconds);
        if (!m.exactTime)
            return false;
    }
    if (m.text == kGasOn)
        m.kind = GasMark::GasOn;
    else if (m.text == kGasOff)
        m.kind = GasMark::GasOff;
    else if (m.exactTime && !m.text.isEmpty() && !presentation::isAlarmEventText(m.text))
        m.kind = GasMark::Note;
    else
        return false;
    *mark = m;
    return true;
}

QList<GasMark> gasMarksOf(const Run& run) {
    QList<GasMark> marks;
    for (const RunEvent& event : run.events) {
        // The program's own events (start, stop, connection) are never marks.
        GasMark mark;
        if (event.kind != RunEvent::Other || !parseGasMark(event.text, &mark))
            continue;
        if (!mark.exactTime) {
            if (mark.cycle >= 1 && size_t(mark.cycle) <= run.table.rows())
                mark.seconds = run.table.seconds[size_t(mark.cycle) - 1];
            else
                mark.seconds = run.secondsOf(event);
        }
        if (std::isfinite(mark.seconds))
            marks.append(mark);
    }
    std::stable_sort(marks.begin(), marks.end(),
                     [](const GasMark& a, const GasMark& b) { return a.seconds < b.seconds; });
    return marks;
}
