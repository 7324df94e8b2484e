// plot RUNDIR [RUNDIR...] --out FILE: a saved run's plots as the program draws
// them, without a window. One run: concentration above environment in one
// picture; several: their concentrations compared in one plot.
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <memory>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "lumocustomplot.h"
#include "runfigure.h"
#include "runplots.h"
#include "runreader.h"

namespace {

// The size of the program's saved pictures, per plot.
constexpr int kWidth = 1200;
constexpr int kHeight = 480;

QJsonObject describe(const Run& run) {
    QJsonObject object{{QStringLiteral("directory"), run.directory},
                       {QStringLiteral("sensor"), run.sensorName},
                       {QStringLiteral("rows"), double(run.table.rows())},
                       {QStringLiteral("skipped"), double(run.table.skippedCount + (run.table.cutShortLine ? 1 : 0))},
                       {QStringLiteral("problems"), QJsonArray::fromStringList(run.problems)}};
    if (run.started.isValid())
        object.insert(QStringLiteral("started"), run.started.toString(Qt::ISODate));
    return object;
}

}  // namespace

int runPlot(const Args& args, const Output& out) {
    const QString path = args.value("out");
    if (path.isEmpty())
        return out.fail(ExitUsage, QString(), QStringLiteral("usage"),
                        QStringLiteral("plot needs --out FILE.png or FILE.pdf (see vqs-ctl plot --help)"));
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("pdf"))
        return out.fail(ExitUsage, QString(), QStringLiteral("usage"),
                        QStringLiteral("--out %1: the picture is a .png or a .pdf").arg(path));

    std::vector<Run> runs;
    for (const QString& directory : args.positional) {
        Run run = readRun(directory);
        if (!run.nothingToShow.isEmpty())
            return out.fail(ExitUsage, QString(), QStringLiteral("no-data"), run.nothingToShow);
        for (const QString& problem : qAsConst(run.problems))
            out.note(QStringLiteral("vqs-ctl: %1: %2").arg(directory, problem));
        runs.push_back(std::move(run));
    }

    LumoCustomPlot conc;
    LumoCustomPlot enviro;
    runplots::setUpConcPlot(&conc);
    runplots::setUpEnviroPlot(&enviro);
    runfigure::drawRun(&conc, &enviro, runs.front());
    QList<QCustomPlot*> plots{&conc};
    if (runs.size() == 1) {
        runfigure::markEvents(&conc, runs.front());
        runfigure::markEvents(&enviro, runs.front());
        runplots::setLegendBelow(&enviro, true);  // which curve is which quantity
        plots << &enviro;
    } else {
        for (size_t i = 1; i < runs.size(); ++i) {
            runfigure::addComparedRun(&conc, runs.front(), runs[i]);
            const QString mismatch = runfigure::unitMismatch(runs.front(), runs[i]);
            if (!mismatch.isEmpty())
                out.note(QStringLiteral("vqs-ctl: %1: %2").arg(args.positional.at(int(i)), mismatch));
        }
    }
    if (!runfigure::writeStacked(plots, path, kWidth, kHeight))
        return out.fail(ExitUsage, QString(), QStringLiteral("write-failed"),
                        QStringLiteral("%1: the picture could not be written").arg(path));

    if (out.json()) {
        QJsonArray described;
        for (const Run& run : runs)
            described.append(describe(run));
        out.document(QJsonObject{{QStringLiteral("out"), QFileInfo(path).absoluteFilePath()},
                                 {QStringLiteral("runs"), described}});
    } else {
        for (const Run& run : runs)
            out.line(QStringLiteral("%1: %2 rows").arg(run.title()).arg(run.table.rows()));
        out.line(QStringLiteral("written: %1").arg(path));
    }
    return ExitOk;
}
