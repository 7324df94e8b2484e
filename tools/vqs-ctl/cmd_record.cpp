// record PORT [PORT...]: a run of one or more sensors at once, written in the
// page's own run files through the page's recorder, until a cycle count, a
// duration or a signal ends it.
#include <QApplication>
#include <QColor>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <csignal>
#include <functional>
#include <cstdio>
#include <memory>
#include <vector>

#ifdef Q_OS_WIN
#include <QPointer>
#include <thread>
#else
#include <QSocketNotifier>
#include <unistd.h>
#endif

#include "cli.h"
#include "commands.h"
#include "headlessrun.h"
#include "runsession.h"
#include "presentation.h"
#include "lumocustomplot.h"
#include "publisher.h"
#include "runpublisher.h"
#include "runplots.h"
#include "sensoridentity.h"
#include "sensorport.h"
#include "vqs.h"

namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int signal) {
    stopSignal = signal;
}

// The page's status line for the cycle, word for word.
QString statusLine(const Sample& sample) {
    return presentation::statusLine(sample.status, sample.statusText).text;
}

// The same on one line, for the text output's one line per cycle.
QString statusOneLine(const Sample& sample) {
    return statusLine(sample).split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
}

// What a line of standard input marks: "on" and "off" the gas, else a note.
QString markOfLine(const QByteArray& line) {
    const QString text = QString::fromUtf8(line).trimmed();
    if (text.compare(QLatin1String("on"), Qt::CaseInsensitive) == 0)
        return QLatin1String(RunSession::kGasOn);
    if (text.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
        return QLatin1String(RunSession::kGasOff);
    return text;
}

// Lines of standard input handed to `onLine` on the event loop's thread; the
// loop never waits for input, and its end only ends the reading.
class StdinLines : public QObject {
public:
    StdinLines(std::function<void(const QByteArray&)> onLine, QObject* parent)
        : QObject(parent), handle(std::move(onLine)) {
#ifdef Q_OS_WIN
        // The console and pipes of Windows have no readiness to wait on: a
        // thread blocks in the read and posts each line. It is left to end
        // with the process; lines arriving after this object are dropped.
        QPointer<StdinLines> self(this);
        std::thread([self] {
            char buffer[4096];
            while (std::fgets(buffer, sizeof buffer, stdin)) {
                const QByteArray line(buffer);
                QMetaObject::invokeMethod(QCoreApplication::instance(), [self, line] {
                    if (self)
                        self->take(line);
                });
            }
        }).detach();
#else
        notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] { readSome(); });
#endif
    }

private:
    void take(const QByteArray& chunk) {
        pending += chunk;
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            handle(line);
        }
    }

#ifndef Q_OS_WIN
    void readSome() {
        char buffer[4096];
        // Readable: one read returns what is there without waiting.
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got > 0) {
            take(QByteArray(buffer, int(got)));
            return;
        }
        // The end (or an error): a last line without its line end still counts.
        notifier->setEnabled(false);
        if (!pending.isEmpty())
            take(QByteArrayLiteral("\n"));
    }
    QSocketNotifier* notifier = nullptr;
#endif

    std::function<void(const QByteArray&)> handle;
    QByteArray pending;
};

struct Recording {
    PortTarget target;
    std::unique_ptr<HeadlessRun> run;
    // The run's two plots, drawn offscreen and left beside its files at the end.
    std::unique_ptr<RunPlots> plots;
    // With --mqtt: the run published as it is recorded (after `run`: it goes first).
    std::unique_ptr<RunPublisher> publishing;
};

class RecordSession : public QObject {
public:
    RecordSession(const Args& args, const Output& out) : args(args), out(out) {}

    int exec() {
        if (!parseLimits() || !startPublisher())
            return ExitUsage;
        const QString base = args.values.contains(QStringLiteral("dir"))
                                 ? args.value("dir")
                                 : QDir::currentPath();
        for (const QString& port : args.positional) {
            Args one = args;
            one.positional = QStringList{port};
            auto recording = std::make_unique<Recording>();
            int code = resolvePort(one, out, &recording->target);
            if (code != ExitOk)
                return stopAll(code);
            recording->run = std::make_unique<HeadlessRun>(port);
            if (publisher)
                publishRun(recording.get());
            VQS& sensor = recording->run->sensorObject();
            code = openSensor(sensor, recording->target, out);
            if (code != ExitOk)
                return stopAll(code);
            sensor.disconnect();
            if (!recording->run->start(base)) {
                out.fail(ExitSensorFailed, port, QStringLiteral("start-failed"), recording->run->error());
                return stopAll(ExitSensorFailed);
            }
            HeadlessRun* run = recording->run.get();
            if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
                recording->plots = std::make_unique<RunPlots>();
                recording->plots->setConcUnit(RunSession::unitText(run->unitCode()));
            }
            RunPlots* plots = recording->plots.get();
            QObject::connect(run, &HeadlessRun::cycleRecorded, this,
                             [this, run, plots](const Sample& sample, double seconds) {
                                 onCycle(run, plots, sample, seconds);
                             });
            QObject::connect(run, &HeadlessRun::finished, this, [this] { onFinished(); });
            if (plots)
                QObject::connect(&run->runSession(), &RunSession::markMade, this,
                                 [plots](double seconds, const QString&, const QString& label) {
                                     runplots::addEventMark(plots->concPlot(), seconds, label, QColor("#808080"));
                                 });
            out.note(QStringLiteral("%1: recording %2 into %3")
                         .arg(port, run->sensorName(), QDir::toNativeSeparators(run->runDirectory())));
            recordings.push_back(std::move(recording));
        }

        std::signal(SIGINT, onStopSignal);
        std::signal(SIGTERM, onStopSignal);
        QTimer signalWatch;
        QObject::connect(&signalWatch, &QTimer::timeout, this, [this] {
            if (stopSignal != 0 && !stopping) {
                out.note(QStringLiteral("stopping: the sensors are set idle and the files closed"));
                requestStop();
            }
        });
        signalWatch.start(100);
        StdinLines marks([this](const QByteArray& line) { onMarkLine(line); }, this);
        if (durationMs > 0) {
            // A timer's interval is an int of milliseconds (under 25 days): a
            // longer run is ended by a deadline the watch above looks at.
            const QDeadlineTimer deadline(durationMs);
            QObject::connect(&signalWatch, &QTimer::timeout, this, [this, deadline] {
                if (deadline.hasExpired() && !stopping)
                    requestStop();
            });
        }
        QCoreApplication::exec();
        return finish();
    }

private:
    bool parseLimits() {
        if (args.values.contains(QStringLiteral("cycles"))) {
            bool ok = false;
            cycleLimit = args.value("cycles").toUInt(&ok);
            if (!ok || cycleLimit == 0) {
                out.fail(ExitUsage, QString(), QStringLiteral("usage"),
                         QStringLiteral("--cycles needs a whole number above 0"));
                return false;
            }
        }
        if (args.values.contains(QStringLiteral("duration"))) {
            QString error;
            durationMs = parseDuration(args.value("duration"), &error);
            if (durationMs <= 0) {
                out.fail(ExitUsage, QString(), QStringLiteral("usage"), error);
                return false;
            }
        }
        return true;
    }

    // --mqtt URL: one publisher for every sensor of the recording. Whatever the
    // broker does never holds up the runs: publishing only queues.
    bool startPublisher() {
        if (!args.values.contains(QStringLiteral("mqtt")))
            return true;
        BrokerSettings settings;
        QString error;
        if (!settings.setUrl(args.value("mqtt"), &error)) {
            out.fail(ExitUsage, QString(), QStringLiteral("usage"), error);
            return false;
        }
        settings.readEnvironment();
        publisher = std::make_unique<Publisher>(settings);
        const QString where = settings.url();
        QObject::connect(publisher.get(), &Publisher::statusChanged, this, [this, where](bool connected, const QString& text) {
            out.note(connected ? QStringLiteral("publishing to %1: %2").arg(where, text) : QStringLiteral("vqs-ctl: ") + text);
        });
        QObject::connect(publisher.get(), &Publisher::messagesDropped, this, [this](quint64 count) {
            out.note(QStringLiteral("vqs-ctl: %1 messages to the broker were dropped (its queue was full)").arg(count));
        });
        publisher->start();
        return true;
    }

    void publishRun(Recording* recording) {
        HeadlessRun* run = recording->run.get();
        recording->publishing = std::make_unique<RunPublisher>(*publisher, run->runSession(), IdentityMessage{});
        RunPublisher* publishing = recording->publishing.get();
        // The identity is known once start() identified the sensor, before its run begins.
        QObject::connect(run, &HeadlessRun::identified, this, [run, publishing] {
            IdentityMessage identity;
            identity.sensor = run->sensorName();
            identity.type = run->identity().type;
            identity.sku = run->identity().sku;
            identity.firmware = run->identity().firmware;
            identity.mcuId = run->identity().mcuId;
            identity.port = run->portName();
            publishing->setIdentity(identity);
        });
    }

    void onCycle(HeadlessRun* run, RunPlots* plots, const Sample& sample, double seconds) {
        const answer_t& a = sample.answer;
        if (plots)
            plots->addSample({seconds, double(a.concentration), double(a.temperature), double(a.pressure),
                              double(a.humidity)});
        const QString gas = RunSession::gasText(a.gasId);
        const QString unit = RunSession::unitText(run->unitCode());
        if (out.json()) {
            const QJsonObject line{
                {QStringLiteral("port"), run->portName()},
                {QStringLiteral("sensor"), run->sensorName()},
                {QStringLiteral("cycle"), int(sample.cycle)},
                {QStringLiteral("time"), seconds},
                {QStringLiteral("gas"), gas},
                {QStringLiteral("concentration"), double(a.concentration)},
                {QStringLiteral("unit"), unit},
                {QStringLiteral("temperature"), double(a.temperature)},
                {QStringLiteral("pressure"), double(a.pressure)},
                {QStringLiteral("humidity"), double(a.humidity)},
                {QStringLiteral("status"), statusLine(sample)},
            };
            std::fputs(QJsonDocument(line).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
            std::fflush(stdout);
        } else {
            out.line(QStringLiteral("%1 %2 cycle %3 %4s %5 %6 %7 T %8 P %9 RH %10 %11")
                         .arg(run->portName(), run->sensorName())
                         .arg(sample.cycle)
                         .arg(seconds, 0, 'f', 1)
                         .arg(gas)
                         .arg(double(a.concentration), 0, 'f', 1)
                         .arg(unit)
                         .arg(double(a.temperature), 0, 'f', 1)
                         .arg(double(a.pressure), 0, 'f', 1)
                         .arg(double(a.humidity), 0, 'f', 1)
                         .arg(statusOneLine(sample)));
        }
        if (cycleLimit > 0 && sample.cycleCount >= cycleLimit)
            run->stop();
    }

    void onMarkLine(const QByteArray& line) {
        const QString what = markOfLine(line);
        if (what.isEmpty() || stopping)
            return;
        for (const auto& recording : recordings) {
            HeadlessRun* run = recording->run.get();
            if (!run->runSession().mark(what))
                out.note(QStringLiteral("%1: no mark, the run is not recording").arg(run->portName()));
        }
    }

    void onFinished() {
        for (const auto& recording : recordings)
            if (recording->run->isRunning())
                return;
        QCoreApplication::exit(0);
    }

    void requestStop() {
        stopping = true;
        for (const auto& recording : recordings)
            recording->run->stop();
    }

    // Ends every run already started (a later port failed to start), then returns `code`.
    int stopAll(int code) {
        requestStop();
        bool anyRunning = false;
        for (const auto& recording : recordings)
            anyRunning = anyRunning || recording->run->isRunning();
        if (anyRunning)
            QCoreApplication::exec();  // onFinished() ends it once every run is idle
        finish();
        return code;
    }

    int finish() {
        int code = ExitOk;
        QJsonArray summary;
        for (const auto& recording : recordings) {
            HeadlessRun* run = recording->run.get();
            const bool lost = run->failed();
            if (lost)
                code = ExitSensorFailed;
            const uint32_t cycles = run->cycles();
            if (recording->plots && !recording->plots->writePictures(run->runDirectory()))
                out.note(QStringLiteral("%1: could not write the pictures of the run").arg(run->portName()));
            summary.append(QJsonObject{
                {QStringLiteral("port"), run->portName()},
                {QStringLiteral("sensor"), run->sensorName()},
                {QStringLiteral("directory"), QDir::toNativeSeparators(run->runDirectory())},
                {QStringLiteral("cycles"), qint64(cycles)},
                {QStringLiteral("result"), lost ? QStringLiteral("lost") : QStringLiteral("stopped")},
            });
            const QString line = QStringLiteral("%1: %2: %3 cycles in %4%5")
                                     .arg(run->portName(), run->sensorName())
                                     .arg(cycles)
                                     .arg(QDir::toNativeSeparators(run->runDirectory()),
                                          lost ? QStringLiteral(" (sensor lost)") : QString());
            if (lost)
                out.fail(ExitSensorFailed, run->portName(), QStringLiteral("lost"), line);
            else
                out.note(line);
        }
        if (out.json())
            std::fputs(QJsonDocument(QJsonObject{{QStringLiteral("runs"), summary}})
                           .toJson(QJsonDocument::Compact)
                           .append('\n')
                           .constData(),
                       stdout);
        std::fflush(stdout);
        if (publisher) {
            // The runs' last states and the sensors offline, with a bounded wait
            // for the broker to take what is queued.
            publisher->stop(kPublishDrainMs);
            publisher.reset();
        }
        return code;
    }

    static constexpr int kPublishDrainMs = 3000;

    const Args& args;
    const Output& out;
    // Declared before the recordings, whose publishers use it: it is destroyed after them.
    std::unique_ptr<Publisher> publisher;
    std::vector<std::unique_ptr<Recording>> recordings;
    uint32_t cycleLimit = 0;
    qint64 durationMs = 0;
    bool stopping = false;
};

}  // namespace

int runRecord(const Args& args, const Output& out) {
    if (args.values.contains(QStringLiteral("cycles")) && args.values.contains(QStringLiteral("duration")))
        return out.fail(ExitUsage, QString(), QStringLiteral("usage"),
                        QStringLiteral("give --cycles or --duration, not both"));
    RecordSession session(args, out);
    return session.exec();
}
