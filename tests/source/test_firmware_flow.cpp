// The page's firmware flow against a local HTTPS server (its own certificate
// authority, checks left on), the sensor simulator and a scripted flasher.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <cstring>
#include <memory>

#include "box_answerer.h"
#include "captured_log.h"
#include "simulator.h"
#include "sim_link.h"
#include "tarnlitesystemtab.h"
#include "vqs.h"

namespace {

QString appDir() {
    return QCoreApplication::applicationDirPath();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        qWarning() << program << arguments << process.readAll();
        return false;
    }
    return true;
}

const char* const kLookupBody = "{\n    \"fw\": \"3.1.1.0\",\n    \"hw\": \"2.1\",\n    \"name\": \"VQS-SIM-0001\",\n"
                                "    \"type\": \"A2L\"\n}\n";

}  // namespace

class TestFirmwareFlow : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QProcess server;
    QString baseUrl;
    QByteArray caPem;
    QString imageFile;
    QByteArray image;

    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    void configure(const QJsonObject& extra = QJsonObject()) {
        QJsonObject config{{"image_file", imageFile}};
        for (auto it = extra.begin(); it != extra.end(); ++it)
            config.insert(it.key(), it.value());
        QVERIFY(writeBytes(path("config.json"), QJsonDocument(config).toJson()));
    }
    QList<QJsonObject> requests() const {
        QList<QJsonObject> list;
        for (const QByteArray& line : readBytes(path("requests.jsonl")).split('\n'))
            if (!line.isEmpty())
                list << QJsonDocument::fromJson(line).object();
        return list;
    }
    void clearRequests() { QFile::remove(path("requests.jsonl")); }

    // The page with a sensor of this identity, pointed at the local server.
    std::unique_ptr<TarnLiteSystemTab> makePage(uint32_t type, std::array<uint8_t, 4> version, int transport = 1) {
        auto page = std::make_unique<TarnLiteSystemTab>();
        page->setFirmwareServer(baseUrl, {caPem});
        VQS* s = page->sensorObject();
        std::strcpy(s->sensorName, "VQS-SIM-0001");
        std::snprintf(s->firmwareVersionText, sizeof(s->firmwareVersionText), "%u.%u.%u.%u", version[0],
                      version[1], version[2], version[3]);
        std::strcpy(s->hardwareVersionText, "2.1");
        std::memcpy(s->firmwareVersion, version.data(), 4);
        s->sensorInfo.sensorType = type;
        s->transport = transport;
        return page;
    }
    // Starts the simulated sensor and points the page's sensor at it.
    int links = 0;
    bool startSensor(vqssim::Simulator& sim, TarnLiteSystemTab& page) {
        if (!openThroughLink(sim, dir, QStringLiteral("sensor-%1").arg(++links)))
            return false;
        sim.start();
        page.sensorObject()->portPath = sim.path();
        return true;
    }
    static QPushButton* button(TarnLiteSystemTab& page) {
        return page.findChild<QPushButton*>(QStringLiteral("pushButton_updateFirmware"));
    }
    // Identification ends in the check; wait until the lookup (if any) is answered.
    void check(TarnLiteSystemTab& page) {
        page.checkFirmware();
        QTRY_VERIFY_WITH_TIMEOUT(button(page)->text() != QLatin1String("Checking New Firmware"), 10000);
    }
    // A flasher beside the program that keeps the image it was given and reports 100 %.
    void installFlasher(bool succeed) {
        QByteArray script = "#!/bin/sh\necho \"$@\" >> '" + path("flasher-args.txt").toLocal8Bit() + "'\n" +
                            "cp \"$6\" '" + path("flashed.bin").toLocal8Bit() + "'\n";
        script += succeed ? "printf 'Erasing memory\\n\\rWrote address 0x08001900 (50.00%%) "
                            "\\rWrote address 0x08001a00 (100.00%%) Done.\\n\\n'\n"
                          : "echo 'Failed to init device.' >&2\nexit 1\n";
        const QString flasher = appDir() + QStringLiteral("/stm32flash");
        QVERIFY(writeBytes(flasher, script));
        QFile::setPermissions(flasher, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile::remove(path("flasher-args.txt"));
        QFile::remove(path("flashed.bin"));
    }
    int flasherRuns() const {
        return readBytes(path("flasher-args.txt")).count('\n');
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (openssl.isEmpty() || python.isEmpty())
            QSKIP("openssl and python3 are needed for the local HTTPS server");

        // A certificate authority of our own and a server certificate for 127.0.0.1.
        const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        QVERIFY(run(openssl, QStringList{"req", "-x509"} + ec +
                                 QStringList{"-keyout", path("ca.key"), "-out", path("ca.pem"), "-days", "2",
                                             "-subj", "/CN=Firmware Test CA", "-addext",
                                             "basicConstraints=critical,CA:TRUE", "-addext",
                                             "keyUsage=critical,keyCertSign,cRLSign"}));
        QVERIFY(run(openssl, QStringList{"req"} + ec +
                                 QStringList{"-keyout", path("server.key"), "-out", path("server.csr"), "-subj",
                                             "/CN=127.0.0.1"}));
        QVERIFY(writeBytes(path("ext.cnf"), "subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                                            "keyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n"));
        QVERIFY(run(openssl, {"x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey",
                              path("ca.key"), "-CAcreateserial", "-out", path("server.pem"), "-days", "2",
                              "-extfile", path("ext.cnf")}));
        caPem = readBytes(path("ca.pem"));

        image = QByteArray(5000, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 13 + 7);
        imageFile = path("image-source.bin");
        QVERIFY(writeBytes(imageFile, image));
        configure();

        server.start(python, {QStringLiteral(VQS_TEST_SOURCE_DIR "/support/https_server.py"), "--cert",
                              path("server.pem"), "--key", path("server.key"), "--config", path("config.json"),
                              "--log", path("requests.jsonl")});
        QVERIFY(server.waitForStarted(10000));
        QVERIFY(server.waitForReadyRead(10000));
        const QByteArray line = server.readLine().trimmed();
        QVERIFY2(line.startsWith("PORT "), line.constData());
        baseUrl = QStringLiteral("https://127.0.0.1:%1").arg(QString::fromLatin1(line.mid(5)));
        QDir().mkpath(appDir() + QStringLiteral("/TempData"));
    }

    void cleanupTestCase() {
        QFile::remove(appDir() + QStringLiteral("/stm32flash"));
        if (server.state() != QProcess::NotRunning) {
            server.kill();
            server.waitForFinished(5000);
        }
    }

    void init() {
        configure();
        clearRequests();
    }

    // The version file decides alone; each component is compared on its own.
    void onDiskVersionFile_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("sensor");
        QTest::addColumn<QString>("text");
        QTest::newRow("newer minor") << QByteArray("3.1.0.0\r\n") << QByteArray("3.0.9.9") << "Upgrade Firmware";
        QTest::newRow("equal") << QByteArray("3.0.0.0") << QByteArray("3.0.0.0") << "Firmware Up-to-Date";
        QTest::newRow("any component below") << QByteArray("3.1.5.0") << QByteArray("3.2.0.0") << "Upgrade Firmware";
        QTest::newRow("modulo 256") << QByteArray("259.0.0.0") << QByteArray("3.0.0.0") << "Firmware Up-to-Date";
        QTest::newRow("three numbers only") << QByteArray("9.9.9") << QByteArray("3.0.0.0") << "Firmware Up-to-Date";
        QTest::newRow("empty file") << QByteArray() << QByteArray("3.0.0.0") << "Firmware Up-to-Date";
    }
    void onDiskVersionFile() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, sensor);
        QFETCH(QString, text);
        const QList<QByteArray> parts = sensor.split('.');
        auto page = makePage(3, {uint8_t(parts[0].toInt()), uint8_t(parts[1].toInt()), uint8_t(parts[2].toInt()),
                                 uint8_t(parts[3].toInt())});
        const QString versionFile = appDir() + QStringLiteral("/ondiskfwv.bin");
        QVERIFY(writeBytes(versionFile, file));
        page->checkFirmware();
        QFile::remove(versionFile);  // other pages in this directory must not see it
        QCOMPARE(button(*page)->text(), text);
        QCOMPARE(button(*page)->isEnabled(), text == QLatin1String("Upgrade Firmware"));
        QCOMPARE(page->firmwareUpgradeAvailable, text == QLatin1String("Upgrade Firmware"));
        QTest::qWait(200);
        QVERIFY(requests().isEmpty());
    }

    void eligibility_data() {
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<bool>("lookedUp");
        QTest::newRow("FLAM 3039") << 3u << QByteArray("\x03\x00\x03\x09", 4) << false;
        QTest::newRow("FLAM 3040") << 3u << QByteArray("\x03\x00\x04\x00", 4) << true;
        QTest::newRow("A2L 3109") << 4u << QByteArray("\x03\x01\x00\x09", 4) << false;
        QTest::newRow("A2L 3110") << 4u << QByteArray("\x03\x01\x01\x00", 4) << true;
        QTest::newRow("METHANE any") << 5u << QByteArray("\x00\x00\x00\x00", 4) << true;
        QTest::newRow("A1 any") << 6u << QByteArray("\x00\x00\x00\x01", 4) << true;
        QTest::newRow("other type") << 7u << QByteArray("\x09\x09\x09\x09", 4) << false;
    }
    void eligibility() {
        QFETCH(uint, type);
        QFETCH(QByteArray, version);
        QFETCH(bool, lookedUp);
        auto page = makePage(type, {uint8_t(version[0]), uint8_t(version[1]), uint8_t(version[2]), uint8_t(version[3])});
        check(*page);
        if (!lookedUp) {
            QCOMPARE(button(*page)->text(), QStringLiteral("Not Upgradeable"));
            QVERIFY(!button(*page)->isEnabled());
            QTest::qWait(200);
            QVERIFY(requests().isEmpty());
            return;
        }
        QCOMPARE(button(*page)->text(), QStringLiteral("Upgrade Firmware"));
        QVERIFY(button(*page)->isEnabled());
        const auto seen = requests();
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0]["method"].toString(), QStringLiteral("POST"));
        QCOMPARE(seen[0]["path"].toString(), QStringLiteral("/misc/lookupVQS.php"));
        QCOMPARE(seen[0]["headers"].toObject()["Content-Type"].toString(), QStringLiteral("application/json"));
        if (type == 4)
            QCOMPARE(seen[0]["body"].toString(), QString::fromLatin1(kLookupBody));
    }

    void lookupReplies_data() {
        QTest::addColumn<QJsonObject>("config");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("empty body") << QJsonObject{{"lookup", "empty"}} << "Server: No Response" << false;
        QTest::newRow("not JSON") << QJsonObject{{"lookup", "notjson"}} << "Firmware Up-to-Date" << false;
        QTest::newRow("url is a number") << QJsonObject{{"lookup", "number"}} << "Firmware Up-to-Date" << false;
        QTest::newRow("no url") << QJsonObject{{"lookup", "nourl"}} << "Firmware Up-to-Date" << false;
        // An HTTP error is a network error; "Checking" had disabled the button.
        QTest::newRow("HTTP 404") << QJsonObject{{"lookup", "error"}}
                                  << QString("Server Unreachable: %1").arg(int(QNetworkReply::ContentNotFoundError))
                                  << false;
        QTest::newRow("name climbs out") << QJsonObject{{"lookup_url", "https://127.0.0.1/images/..\\..\\evil.bin"}}
                                         << "Firmware Up-to-Date" << false;
        QTest::newRow("name is a drive") << QJsonObject{{"lookup_url", "https://127.0.0.1/images/C:evil.bin"}}
                                         << "Firmware Up-to-Date" << false;
        QTest::newRow("no name") << QJsonObject{{"lookup_url", "https://127.0.0.1/images/"}} << "Firmware Up-to-Date"
                                 << false;
        QTest::newRow("plain HTTP") << QJsonObject{{"lookup_url", "http://127.0.0.1/images/fw.bin"}}
                                    << "Firmware Up-to-Date" << false;
        const QString prefix = QStringLiteral("https://127.0.0.1/");
        const QString tail = QStringLiteral("/fw.bin");
        QTest::newRow("255 characters") << QJsonObject{{"lookup_url", prefix + QString(255 - prefix.size() - tail.size(), 'a') + tail}}
                                        << "Upgrade Firmware" << true;
        QTest::newRow("256 characters") << QJsonObject{{"lookup_url", prefix + QString(256 - prefix.size() - tail.size(), 'a') + tail}}
                                        << "Firmware Up-to-Date" << false;
    }
    void lookupReplies() {
        QFETCH(QJsonObject, config);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        configure(config);
        auto page = makePage(4, {3, 1, 1, 0});
        check(*page);
        QCOMPARE(button(*page)->text(), text);
        QCOMPARE(button(*page)->isEnabled(), enabled);
        QCOMPARE(page->upgradeState, 0);
        QCOMPARE(qstrlen(page->firmwareUrl) > 0, enabled);
        QCOMPARE(page->firmwareUrl[sizeof(page->firmwareUrl) - 1], '\0');
    }

    void downloadPathIsLastSegment() {
        auto page = makePage(4, {3, 1, 1, 0});
        check(*page);
        QCOMPARE(QString::fromUtf8(page->firmwareUrl), baseUrl + QStringLiteral("/images/fw_3_2.bin"));
        QCOMPARE(page->firmwareDownloadPath, appDir() + QStringLiteral("/TempData/fw_3_2.bin"));
    }

    // Certificate checks stay on: the same server without its CA is refused.
    void untrustedServerIsUnreachable() {
        auto page = makePage(4, {3, 1, 1, 0});
        page->setFirmwareServer(baseUrl, {});
        check(*page);
        QCOMPARE(button(*page)->text(),
                 QStringLiteral("Server Unreachable: %1").arg(int(QNetworkReply::SslHandshakeFailedError)));
    }

    // An upgrade found for a USB sensor is shown as needing UART, never as one to run;
    // pressing still explains, and asks the server for nothing.
    void usbSensorIsRefused() {
        const QString versionFile = appDir() + QStringLiteral("/ondiskfwv.bin");
        QVERIFY(writeBytes(versionFile, "9.0.0.0\n"));
        auto onDisk = makePage(4, {3, 1, 1, 0}, 0);
        onDisk->checkFirmware();
        QFile::remove(versionFile);
        QCOMPARE(button(*onDisk)->text(), QStringLiteral("Upgrade Needs UART"));

        auto page = makePage(4, {3, 1, 1, 0}, 0);
        check(*page);
        QCOMPARE(button(*page)->text(), QStringLiteral("Upgrade Needs UART"));
        QVERIFY(button(*page)->isEnabled());
        QCOMPARE(button(*page)->toolTip(),
                 QStringLiteral("Firmware upgrades need the sensor's UART port (a USB-to-UART adapter)."));
        clearRequests();
        BoxAnswerer watcher;
        button(*page)->click();
        QTRY_COMPARE(watcher.seen.size(), 1);
        QCOMPARE(watcher.seen[0].text, QStringLiteral("Error:"));
        QCOMPARE(watcher.seen[0].informativeText,
                 QStringLiteral("Firmware upgrade via USB not supported - please use UART interface."));
        QCOMPARE(watcher.seen[0].styleSheet, QStringLiteral("QLabel{min-width: 500px;}"));
        QTest::qWait(300);
        QVERIFY(requests().isEmpty());
        QCOMPARE(page->upgradeState, 0);
    }

    void noWriteDuringRun() {
        auto page = makePage(4, {3, 1, 1, 0});
        check(*page);
        clearRequests();
        page->runInProgress = true;
        BoxAnswerer watcher;
        button(*page)->click();
        QTRY_COMPARE(watcher.seen.size(), 1);
        page->runInProgress = false;
        QCOMPARE(watcher.seen[0].text, QStringLiteral("Error:"));
        QTest::qWait(300);
        QVERIFY(requests().isEmpty());
    }

    void downloadUpgradeSucceeds() {
        installFlasher(true);
        vqssim::Simulator sim(vqssim::Framing::Uart);
        auto page = makePage(4, {3, 1, 1, 0});
        QVERIFY(startSensor(sim, *page));
        check(*page);
        QCOMPARE(button(*page)->text(), QStringLiteral("Upgrade Firmware"));
        clearRequests();

        BoxAnswerer watcher;
        watcher.progressOf = page.get();
        // The sensor restarts into its firmware.
        watcher.onBox = [&sim](const BoxAnswerer::Seen&) { sim.leaveBootloader(); };
        button(*page)->click();
        QTRY_COMPARE_WITH_TIMEOUT(page->upgradeState, 3, 20000);

        QCOMPARE(readBytes(path("flashed.bin")), image);
        const QString stored = appDir() + QStringLiteral("/TempData/fw_3_2.bin");
        QVERIFY(readBytes(path("flasher-args.txt")).contains(stored.toLocal8Bit()));
        QVERIFY(!QFile::exists(stored));
        QCOMPARE(watcher.seen.size(), 1);
        QCOMPARE(watcher.seen[0].text, QStringLiteral("Firmware upgraded successfully!"));
        QCOMPARE(watcher.seen[0].progressLabel, QStringLiteral("Writing Firmware to device...\r\nDo not disconnect USB!"));
        QVERIFY(!page->findChild<QProgressDialog*>());
        QCOMPARE(sim.requestCount(vqssim::cmd::UartEnterBootloader), size_t(1));
        QVERIFY(sim.requestCount(vqssim::cmd::UartVersion) >= 1);
        QCOMPARE(button(*page)->text(), QStringLiteral("Firmware Up-to-Date"));
        QVERIFY(!button(*page)->isEnabled());
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("label_fwVersion"))->text(),
                 QString::fromLatin1(page->sensorObject()->versionText));
        QCOMPARE(page->firmwareUrl[0], '\0');

        QTRY_COMPARE(page->upgradeState, 0);
        const auto seen = requests();
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0]["method"].toString(), QStringLiteral("GET"));
        QCOMPARE(seen[0]["path"].toString(), QStringLiteral("/images/fw_3_2.bin"));
        QCOMPARE(seen[1]["path"].toString(), QStringLiteral("/misc/upgradeStatus.php"));
        QCOMPARE(seen[1]["headers"].toObject()["Content-Type"].toString(), QStringLiteral("application/json"));
        QCOMPARE(seen[1]["body"].toString(),
                 QStringLiteral("{\n    \"name\": \"VQS-SIM-0001\",\n    \"status\": \"Firmware upgraded\"\n}\n"));
    }

    void downloadUpgradeFails() {
        installFlasher(false);
        configure({{"status", "error"}});  // a refused report changes nothing more
        vqssim::Simulator sim(vqssim::Framing::Uart);
        auto page = makePage(4, {3, 1, 1, 0});
        QVERIFY(startSensor(sim, *page));
        check(*page);
        clearRequests();

        BoxAnswerer watcher;
        watcher.onBox = [&sim](const BoxAnswerer::Seen&) { sim.leaveBootloader(); };
        button(*page)->click();
        QTRY_COMPARE_WITH_TIMEOUT(page->upgradeState, 3, 20000);
        QCOMPARE(watcher.seen.size(), 1);
        QCOMPARE(watcher.seen[0].text, QStringLiteral("VQS-SIM-0001"));
        QCOMPARE(watcher.seen[0].informativeText, QStringLiteral("There was an error updating firmware!"));
        QVERIFY(!QFile::exists(appDir() + QStringLiteral("/TempData/fw_3_2.bin")));
        QCOMPARE(button(*page)->text(), QStringLiteral("Firmware Up-to-Date"));
        QTRY_COMPARE(requests().size(), 2);
        QCOMPARE(requests()[1]["body"].toString(),
                 QStringLiteral("{\n    \"name\": \"VQS-SIM-0001\",\n    \"status\": \"Firmware upgrade failed!\"\n}\n"));
        QTRY_VERIFY(button(*page)->text().startsWith(QLatin1String("Server Unreachable: ")));
        QCOMPARE(page->upgradeState, 3);
    }

    // Replies are matched to the request awaited: a late lookup reply while the image is
    // on its way is dropped, and an image asked for before a new check is never written.
    void onlyTheAwaitedReplyCounts() {
        installFlasher(true);
        vqssim::Simulator sim(vqssim::Framing::Uart);
        auto page = makePage(4, {3, 1, 1, 0});
        QVERIFY(startSensor(sim, *page));
        check(*page);

        // Superseded: the image arrives after a new check began.
        configure({{"delay_image", 1.5}});
        clearRequests();
        QObject listening;  // ends the connection with this test
        QStringList finished;
        QObject::connect(page->networkManager, &QNetworkAccessManager::finished, &listening,
                         [&finished](QNetworkReply* reply) { finished << reply->url().path(); });
        button(*page)->click();
        QTRY_VERIFY(!requests().isEmpty());  // the image is asked for
        check(*page);
        QTRY_VERIFY_WITH_TIMEOUT(finished.contains(QStringLiteral("/images/fw_3_2.bin")), 10000);
        QCOMPARE(flasherRuns(), 0);
        QCOMPARE(button(*page)->text(), QStringLiteral("Upgrade Firmware"));

        // A stray lookup reply lands while the image is awaited.
        BoxAnswerer watcher;
        watcher.onBox = [&sim](const BoxAnswerer::Seen&) { sim.leaveBootloader(); };
        button(*page)->click();
        QNetworkRequest stray(QUrl(baseUrl + QStringLiteral("/misc/lookupVQS.php")));
        stray.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(QSslCertificate::fromData(caPem));
        stray.setSslConfiguration(ssl);
        page->networkManager->post(stray, QByteArray("{}"));
        QTRY_COMPARE_WITH_TIMEOUT(page->upgradeState, 3, 20000);
        QCOMPARE(flasherRuns(), 1);
        QCOMPARE(readBytes(path("flashed.bin")), image);
    }

    // A download that cannot be used fails like a write: no flasher, the box, the
    // failure report. A UART image beyond the application area (114 KiB from page 6)
    // would be cut short by the flasher while it reports success.
    void unusableDownloadFails_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("empty body") << "empty";
        QTest::newRow("not storable") << "blocked";
        QTest::newRow("too large") << "large";
    }
    void unusableDownloadFails() {
        QFETCH(QString, kind);
        installFlasher(true);
        const QString blocker = appDir() + QStringLiteral("/TempData/fw_dir.bin");
        if (kind == QLatin1String("blocked")) {
            QDir().mkpath(blocker);  // a directory where the image would be stored
            configure({{"image_name", "fw_dir.bin"}});
        } else {
            const QString source = path("unusable.bin");
            QVERIFY(writeBytes(source, kind == QLatin1String("large") ? QByteArray(114 * 1024 + 1, '\x5a') : QByteArray()));
            configure({{"image_file", source}});
        }
        vqssim::Simulator sim(vqssim::Framing::Uart);
        auto page = makePage(4, {3, 1, 1, 0});
        QVERIFY(startSensor(sim, *page));
        check(*page);
        clearRequests();
        CapturedLog log;
        BoxAnswerer watcher;
        button(*page)->click();
        QTRY_COMPARE_WITH_TIMEOUT(page->upgradeState, 3, 20000);
        QDir().rmdir(blocker);
        QVERIFY2(log.has(QtDebugMsg, QStringLiteral(": firmware update failed")), qPrintable(log.dump()));
        if (kind == QLatin1String("large"))
            QVERIFY(log.has(QtWarningMsg, QStringLiteral("- firmware image too large for the sensor: 116737 bytes")));
        QCOMPARE(watcher.texts(), QStringList{"VQS-SIM-0001"});
        QCOMPARE(watcher.seen[0].informativeText, QStringLiteral("There was an error updating firmware!"));
        QCOMPARE(flasherRuns(), 0);
        QCOMPARE(sim.requestCount(vqssim::cmd::UartEnterBootloader), size_t(0));
        QVERIFY(!QFile::exists(appDir() + QStringLiteral("/TempData/fw_3_2.bin")));
        QCOMPARE(button(*page)->text(), QStringLiteral("Firmware Up-to-Date"));
        QTRY_COMPARE(requests().size(), 2);
        QCOMPARE(requests()[1]["body"].toString(),
                 QStringLiteral("{\n    \"name\": \"VQS-SIM-0001\",\n    \"status\": \"Firmware upgrade failed!\"\n}\n"));
    }

    void onDiskUpgrade() {
        installFlasher(true);
        vqssim::Simulator sim(vqssim::Framing::Uart);
        auto page = makePage(3, {3, 0, 9, 9});
        QVERIFY(startSensor(sim, *page));
        const QString imagePath = appDir() + QStringLiteral("/ondiskfw.bin");
        const QString versionPath = appDir() + QStringLiteral("/ondiskfwv.bin");
        QVERIFY(writeBytes(imagePath, image));
        QVERIFY(writeBytes(versionPath, "3.1.0.0\n"));
        page->checkFirmware();
        QFile::remove(versionPath);
        QCOMPARE(button(*page)->text(), QStringLiteral("Upgrade Firmware"));

        BoxAnswerer watcher;
        button(*page)->click();
        QCOMPARE(readBytes(path("flashed.bin")), image);
        QVERIFY(readBytes(path("flasher-args.txt")).contains(imagePath.toLocal8Bit()));
        QCOMPARE(button(*page)->text(), QStringLiteral("Firmware Up-to-Date"));
        QVERIFY(!button(*page)->isEnabled());
        QVERIFY(!page->sensorObject()->portOpen);
        QVERIFY(QFile::exists(imagePath));  // stays for the next sensor
        QFile::remove(imagePath);
        QTest::qWait(300);
        QVERIFY(requests().isEmpty());  // no report for an on-disk image
        QCOMPARE(page->upgradeState, 0);
    }
};

QTEST_MAIN(TestFirmwareFlow)
#include "test_firmware_flow.moc"
