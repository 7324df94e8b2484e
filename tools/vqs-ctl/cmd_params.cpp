// params get / params set: the sensor's parameter document.
#include <QFile>
#include <QJsonObject>

#include <cjson/cJSON.h>

#include <cstdio>
#include <cstring>

#include "cli.h"
#include "commands.h"
#include "paramsdiff.h"
#include "sensorport.h"
#include "vqs.h"

namespace {

// The sensor's own identity; kept with --keep-identity when another sensor's document is copied in.
void keepIdentity(const kernelParams_t& own, kernelParams_t* wanted) {
    std::memcpy(wanted->general.sensorName, own.general.sensorName, sizeof(own.general.sensorName));
    std::memcpy(wanted->general.sku, own.general.sku, sizeof(own.general.sku));
    std::memcpy(wanted->general.mfgDate, own.general.mfgDate, sizeof(own.general.mfgDate));
}

// Reads the sensor's parameters into sensor.params, over an open port.
int readParams(VQS& sensor, const PortTarget& target, const Output& out) {
    if (sensor.getParams() == VQS_SUCCESS)
        return ExitOk;
    return out.fail(ExitSensorFailed, target.label, QStringLiteral("no-answer"),
                    QStringLiteral("no parameter document from the sensor"));
}

}  // namespace

int runParamsGet(const Args& args, const Output& out) {
    PortTarget target;
    VQS sensor;
    int code = openPortOperand(args, out, &target, sensor);
    if (code != ExitOk)
        return code;
    code = readParams(sensor, target, out);
    sensor.disconnect();
    if (code != ExitOk)
        return code;
    const QByteArray text = paramsText(sensor.params, true) + '\n';
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    return ExitOk;
}

int runParamsSet(const Args& args, const Output& out) {
    const QString file = args.positional.value(1);
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly))
        return out.failFile(ExitUsage, file, input.errorString());
    const QByteArray text = input.readAll();
    cJSON* document = cJSON_ParseWithLength(text.constData(), static_cast<size_t>(text.size()));
    if (!document)
        return out.failFile(ExitUsage, file, QStringLiteral("not a JSON document"));
    // Checked against an empty record first, so a bad file is found before the sensor is touched.
    kernelParams_t probe{};
    const bool wellFormed = jsonToParams(document, &probe) == 0;
    if (!wellFormed) {
        cJSON_Delete(document);
        return out.failFile(ExitUsage, file,
                            QStringLiteral("not a parameter document (generalParams, dscParams and flamParams needed)"));
    }

    PortTarget target;
    VQS sensor;
    int code = openPortOperand(args, out, &target, sensor);
    if (code == ExitOk)
        code = readParams(sensor, target, out);
    if (code != ExitOk) {
        cJSON_Delete(document);
        sensor.disconnect();
        return code;
    }
    // Keys the file leaves out keep the sensor's values.
    const kernelParams_t current = sensor.params;
    kernelParams_t wanted = current;
    jsonToParams(document, &wanted);
    cJSON_Delete(document);
    if (args.has("keep-identity"))
        keepIdentity(current, &wanted);

    if (paramsText(wanted, false).size() > static_cast<int>(kParamJsonMax)) {
        sensor.disconnect();
        return out.failFile(ExitUsage, file, QStringLiteral("the document is longer than the sensor can take"));
    }

    const QList<ParamChange> changes = diffParams(current, wanted);
    for (const ParamChange& change : changes)
        out.line(changeLine(change));
    QJsonObject result{{QStringLiteral("port"), target.label},
                       {QStringLiteral("changes"), changesToJson(changes)},
                       {QStringLiteral("dryRun"), args.has("dry-run")},
                       {QStringLiteral("written"), false}};
    if (changes.isEmpty())
        out.line(QStringLiteral("no change"));
    if (args.has("dry-run") || changes.isEmpty()) {
        sensor.disconnect();
        if (out.json())
            out.document(result);
        return ExitOk;
    }

    sensor.params = wanted;
    if (sensor.setParams() != VQS_SUCCESS) {
        sensor.disconnect();
        return out.fail(ExitSensorFailed, target.label, QStringLiteral("refused"),
                        QStringLiteral("the sensor did not take the parameters"));
    }
    // Confirmed only by what the sensor hands back.
    code = readParams(sensor, target, out);
    sensor.disconnect();
    if (code != ExitOk)
        return code;
    const QList<ParamChange> differences = diffParams(wanted, sensor.params);
    if (!differences.isEmpty()) {
        QStringList keys;
        for (const ParamChange& change : differences)
            keys.append(change.key);
        return out.fail(ExitSensorFailed, target.label, QStringLiteral("not-confirmed"),
                        QStringLiteral("written, but the sensor reads back other values for %1").arg(keys.join(", ")));
    }
    out.line(QStringLiteral("written and read back: %1 change(s)").arg(changes.size()));
    result.insert(QStringLiteral("written"), true);
    if (out.json())
        out.document(result);
    return ExitOk;
}
