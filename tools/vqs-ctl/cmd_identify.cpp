// identify PORT: what the page's identification panel shows.
#include <QJsonObject>

#include "cli.h"
#include "commands.h"
#include "presentation.h"
#include "sensoridentity.h"
#include "sensorport.h"
#include "vqs.h"

namespace {

QString text(const char* field) {
    return QString::fromLatin1(field).trimmed();
}

}  // namespace

QString firmwareText(const VQS& sensor) {
    const QString numbers = text(sensor.firmwareVersionText);
    return numbers.isEmpty() ? text(sensor.versionText).section('\n', 0, 0) : numbers;
}

int runIdentify(const Args& args, const Output& out) {
    PortTarget target;
    VQS sensor;
    int code = openPortOperand(args, out, &target, sensor);
    if (code != ExitOk)
        return code;
    const VQSStatus identified = sensor.identify();
    sensor.disconnect();
    if (identified != VQS_SUCCESS)
        return out.fail(ExitSensorFailed, target.label, QStringLiteral("no-answer"), QStringLiteral("no sensor answers"));

    const bool passed = selfTestPassed(sensor.lastReplyHeader.status);
    // The page's status line after identification: "Sensor ready", or the sensor's own text.
    const QString status = presentation::identifiedLine(passed, QString::fromLatin1(sensor.statusText)).text;
    const bool compatible = firmwareCompatible(sensor.firmwareVersion);
    const QJsonObject result{
        {QStringLiteral("port"), target.label},
        {QStringLiteral("framing"), framingName(target.transport)},
        {QStringLiteral("name"), text(sensor.sensorName)},
        {QStringLiteral("type"), static_cast<int>(sensor.sensorInfo.sensorType)},
        {QStringLiteral("typeName"), sensorTypeDescription(sensor)},
        {QStringLiteral("sku"), text(sensor.sensorSku)},
        {QStringLiteral("firmware"), firmwareText(sensor)},
        {QStringLiteral("hardware"), text(sensor.hardwareVersionText)},
        {QStringLiteral("calibrationDate"), text(sensor.sensorInfo.calibrationDate)},
        {QStringLiteral("selfTest"), passed ? QStringLiteral("passed") : QStringLiteral("failed")},
        {QStringLiteral("status"), status},
        {QStringLiteral("firmwareCompatible"), compatible},
    };
    if (out.json()) {
        out.document(result);
    } else {
        const char* const kFields[][2] = {
            {"Name", "name"},         {"Type", "typeName"},     {"SKU", "sku"},
            {"Firmware", "firmware"}, {"Hardware", "hardware"}, {"Calibrated", "calibrationDate"},
            {"Self-test", "selfTest"}, {"Status", "status"},
        };
        // One line per field: a text of several lines (the status) is joined.
        for (const auto& field : kFields) {
            const QString value = result.value(QLatin1String(field[1])).toString();
            out.line(QStringLiteral("%1 %2")
                         .arg(QLatin1String(field[0]) + ':', -11)
                         .arg(value.split('\n', Qt::SkipEmptyParts).join(' ')));
        }
        if (!compatible)
            out.line(QStringLiteral("Note:       firmware 3.0.0.0 or higher is needed for measuring"));
    }
    return passed ? ExitOk : ExitSensorFailed;
}
