// The vqs-sim program: its help covers every fault, options reach the device, and the dump
// holds the exact request bytes.
#include <QtTest>

#include "sim_test_client.h"
#include "simulator.h"

using namespace vqssim;
using simtest::Client;

namespace {
const QString kProgram = QStringLiteral(VQS_BINARY_DIR "/bin/vqs-sim");
}

class TestSimulatorCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!QFileInfo::exists(kProgram)) QSKIP("vqs-sim is not built");
    }

    void helpNamesEveryFault() {
        QProcess p;
        p.start(kProgram, {"--help"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QString help = QString::fromLocal8Bit(p.readAllStandardOutput());
        for (int k = 0; k <= int(FaultKind::PayloadSize); ++k) {
            const QString name = QString::fromLatin1(faultKindName(FaultKind(k)));
            QVERIFY2(help.contains(QRegularExpression("\\n\\s+(KIND\\s+)?" + name + "\\s")), qPrintable(name));
            Fault f;
            std::string err;
            QVERIFY(parseFault(name.toStdString(), &f, &err));
            QCOMPARE(int(f.kind), k);
        }
    }

    void badOptionsAreRefused() {
        for (const QStringList& args : {QStringList{"--fault", "melt"}, QStringList{"--fw", "4.1"},
                                        QStringList{"--status", "300"}, QStringList{"--bogus"}}) {
            QProcess p;
            p.start(kProgram, args);
            QVERIFY(p.waitForFinished(30000));
            QCOMPARE(p.exitCode(), 2);
        }
    }

    void runsWithIdentityFaultsAndDump() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("sensor"));
        const QString dump = dir.filePath(QStringLiteral("dump.txt"));
        QProcess p;
        p.start(kProgram, {"--uart", "--link", link, "--name", "Bench-7", "--fw", "4.0.9.9", "--status", "0x31",
                           "--fault", "noreply@cmd:0x42#2", "--dump", dump});
        QVERIFY(p.waitForReadyRead(30000));
        QCOMPARE(QString::fromLocal8Bit(p.readLine()).trimmed(), link);
        {
            Client c(link.toStdString());
            QVERIFY(c.ok());
            auto info = c.uart(cmd::UartSensorInfo, {0xAA});
            QCOMPARE(info.payload.size(), size_t(112));  // firmware below 4100: short layout
            QCOMPARE(info.status, uint8_t(0x31));
            QCOMPARE(std::string(reinterpret_cast<const char*>(info.payload.data())), std::string("Bench-7"));
            QVERIFY(c.uart(cmd::UartVersion, {0x55}).checkOk);
            QVERIFY(c.uart(cmd::UartVersion, {0x55}, 300).header.empty());
        }
        p.terminate();
        QVERIFY(p.waitForFinished(30000));
        QFile f(dump);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1], QStringLiteral("2 cmd=0x0042 len=1 : 42 00 01 00 00 00 fd 33 55"));
        QVERIFY(lines[2].endsWith(QStringLiteral(" repeat : 42 00 01 00 00 00 fd 33 55")));
        QVERIFY(!QFileInfo::exists(link));  // the link goes with the device
    }
};

QTEST_GUILESS_MAIN(TestSimulatorCli)
#include "test_simulator_cli.moc"
