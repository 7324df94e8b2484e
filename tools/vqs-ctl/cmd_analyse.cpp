// analyse RUNDIR: the response times after the gas marks of a recorded run.
#include <cmath>
#include <cstdio>
#include <string>

#include "analysisreport.h"
#include "cli.h"
#include "commands.h"
#include "gasmarks.h"
#include "presentation.h"
#include "response.h"
#include "runreader.h"

namespace {

struct SettingOption {
    const char* name;
    double ResponseSettings::*field;
};
const SettingOption kSettingOptions[] = {
    {"baseline", &ResponseSettings::baselineSeconds}, {"window", &ResponseSettings::slopeWindowSeconds},
    {"band", &ResponseSettings::slopeBand},           {"hold", &ResponseSettings::holdSeconds},
    {"smooth", &ResponseSettings::smoothSeconds},
};

QString unitText(const RunTable& table) {
    return QLatin1String(presentation::runUnitName(table.runUnit()));
}

}  // namespace

int runAnalyse(const Args& args, const Output& out) {
    ResponseSettings settings;
    for (const SettingOption& option : kSettingOptions) {
        if (!args.values.contains(QLatin1String(option.name)))
            continue;
        bool ok = false;
        const double value = args.value(option.name).toDouble(&ok);  // '.' whatever the locale
        const bool positive = std::string(option.name) != "smooth";
        if (!ok || !(value >= 0) || (positive && value == 0) || !std::isfinite(value))
            return out.fail(ExitUsage, QString(), QStringLiteral("usage"),
                            QStringLiteral("--%1 needs a number%2").arg(option.name, positive ? " above 0" : ""));
        settings.*option.field = value;
    }

    const QString directory = args.positional.value(0);
    const Run run = readRun(directory);
    if (!run.nothingToShow.isEmpty())
        return out.fail(ExitUsage, QString(), QStringLiteral("no-data"), run.nothingToShow);
    for (const QString& problem : run.problems)
        out.note(QStringLiteral("vqs-ctl: %1: %2").arg(directory, problem));

    const QList<StepResponse> steps =
        analyseSteps(run.table.seconds, run.table.concentration, gasMarksOf(run), settings);
    const QString unit = unitText(run.table);
    const QByteArray text =
        out.json() ? responseJson(steps, run.directory, unit) : responseText(steps, unit).toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    return ExitOk;
}
