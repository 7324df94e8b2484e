// Firmware flow of a sensor page: is a newer image offered (a file beside the
// program, or the maker's web server), fetch it, have the sensor object write
// it, and tell the server how it went.
#include "tarnlitesystemtab.h"
#include "ui_tarnlitesystemtab.h"
#include "vqs.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProgressDialog>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

#include <cjson/cJSON.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The maker's web server; the image address comes from its lookup reply. The
// host is a placeholder under a reserved name until the maker's own is known:
// it never resolves, so no sensor identity can reach anyone else's server.
const char* const kFirmwareServer = "https://firmware.relaybank.example";
const char* const kLookupPath = "/misc/lookupVQS.php";
const char* const kStatusPath = "/misc/upgradeStatus.php";

enum UpgradeState { kAwaitLookup = 0, kAwaitImage = 2, kAwaitStatusReply = 3 };

// Which sensors may be offered an upgrade, and the name the server knows each type by.
struct SensorTypeUpgrade {
    uint32_t type;
    const char* serverName;
    int minimumVersion;  // N = major*1000 + minor*100 + build*10 + revision
};
const SensorTypeUpgrade kUpgradeTable[] = {
    {3, "FLAM", 3040},
    {4, "A2L", 3110},
    {5, "METHANE", 0},
    {6, "A1", 0},
};

const SensorTypeUpgrade* upgradeEntry(uint32_t type) {
    for (const auto& entry : kUpgradeTable)
        if (entry.type == type)
            return &entry;
    return nullptr;
}

const char* const kWideBox = "QLabel{min-width: 500px;}";

// A sensor on its own USB port takes no firmware (the press says so); an
// upgrade found for it is shown as one that needs the UART port.
const char* const kUsbUpgradeText = "Upgrade Needs UART";
const char* const kUsbUpgradeTip = "Firmware upgrades need the sensor's UART port (a USB-to-UART adapter).";

// "%u.%u.%u.%u" at the start of the text, each number kept modulo 256. Parsed
// with strtoul so an over-long number stays defined; false unless all four are there.
bool parseVersion(const char* text, unsigned parts[4]) {
    const char* cursor = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*cursor != '.')
                return false;
            ++cursor;
        }
        char* end = nullptr;
        const unsigned long value = std::strtoul(cursor, &end, 10);
        if (end == cursor)
            return false;
        parts[i] = static_cast<unsigned>(value % 256);
        cursor = end;
    }
    return true;
}

// The download is stored under the address's last path segment, so that segment
// must be a plain file name: nothing that climbs out of TempData or names a device.
bool plainFileName(const QString& name) {
    if (name.isEmpty() || name.contains(QLatin1String("..")))
        return false;
    for (const QChar c : name)
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c))
            return false;
    return true;
}

// Trust the extra certificate authorities for this request, on top of the system's.
void trustExtraCa(QNetworkRequest& request, const QList<QByteArray>& pemList) {
    if (pemList.isEmpty())
        return;
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    for (const QByteArray& pem : pemList)
        ssl.addCaCertificates(QSslCertificate::fromData(pem, QSsl::Pem));
    request.setSslConfiguration(ssl);
}

}  // namespace

void TarnLiteSystemTab::setFirmwareServer(const QString& baseUrl, const QList<QByteArray>& extraCaPem) {
    firmwareServer = baseUrl;
    firmwareServerCa = extraCaPem;
}

void TarnLiteSystemTab::setFirmwareButton(bool enabled, const QString& text) {
    ui->pushButton_updateFirmware->setEnabled(enabled);
    ui->pushButton_updateFirmware->setText(text);
    ui->pushButton_updateFirmware->setToolTip(QString());
}

void TarnLiteSystemTab::offerUpgrade() {
    if (sensor->transport == 0) {
        // Still pressable: the press explains why no upgrade runs here.
        setFirmwareButton(true, QLatin1String(kUsbUpgradeText));
        ui->pushButton_updateFirmware->setToolTip(QLatin1String(kUsbUpgradeTip));
        return;
    }
    setFirmwareButton(true, QStringLiteral("Upgrade Firmware"));
}

void TarnLiteSystemTab::clearFirmwareUrl() {
    std::memset(firmwareUrl, 0, sizeof(firmwareUrl));
}

int TarnLiteSystemTab::onDiskImageNewer() const {
    const QString versionPath = QStringLiteral("%1/ondiskfwv.bin").arg(QCoreApplication::applicationDirPath());
    QFile file(versionPath);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    char text[128] = {};
    const bool read = file.readLine(text, sizeof(text)) > 0;
    file.close();
    unsigned disk[4] = {};
    if (!read || !parseVersion(text, disk)) {
        qWarning() << sensor->sensorName << "- unreadable firmware version file" << versionPath;
        return 0;
    }
    // Any one component below the file's counts, as the sensors' images have always been judged.
    const uint8_t* have = sensor->firmwareVersion;
    for (int i = 0; i < 4; ++i)
        if (have[i] < disk[i])
            return 1;
    return 0;
}

void TarnLiteSystemTab::checkFirmware() {
    setFirmwareButton(false, QStringLiteral("Checking New Firmware"));
    // A reply still on its way was asked for another sensor or an earlier state.
    awaitedReply = nullptr;

    const int onDisk = onDiskImageNewer();
    if (onDisk >= 0) {
        firmwareUpgradeAvailable = onDisk == 1;
        if (firmwareUpgradeAvailable)
            offerUpgrade();
        else
            setFirmwareButton(false, QStringLiteral("Firmware Up-to-Date"));
        return;
    }

    const uint8_t* v = sensor->firmwareVersion;
    const int number = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
    const SensorTypeUpgrade* entry = upgradeEntry(sensor->sensorInfo.sensorType);
    if (!entry || number < entry->minimumVersion) {
        setFirmwareButton(false, QStringLiteral("Not Upgradeable"));
        return;
    }

    QJsonObject lookup;
    lookup.insert(QStringLiteral("name"), QString::fromLatin1(sensor->sensorName));
    lookup.insert(QStringLiteral("fw"), QString::fromLatin1(sensor->firmwareVersionText));
    lookup.insert(QStringLiteral("hw"), QString::fromLatin1(sensor->hardwareVersionText));
    lookup.insert(QStringLiteral("type"), QString::fromLatin1(entry->serverName));
    clearFirmwareUrl();
    awaitedReply = postToServer(kLookupPath, QJsonDocument(lookup).toJson());
    upgradeState = kAwaitLookup;
}

QNetworkReply* TarnLiteSystemTab::postToServer(const char* path, const QByteArray& body) {
    const QString base = firmwareServer.isEmpty() ? QString::fromLatin1(kFirmwareServer) : firmwareServer;
    QNetworkRequest request(QUrl(base + QLatin1String(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // Redirects are followed, but never from HTTPS down to plain HTTP.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    trustExtraCa(request, firmwareServerCa);
    return networkManager->post(request, body);
}

void TarnLiteSystemTab::onReplyFinished(QNetworkReply* reply) {
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    if (reply != awaitedReply) {
        qWarning() << "Ignored a server reply that no request awaits:" << reply->url().toString();
        return;
    }
    awaitedReply = nullptr;

    if (reply->error() != QNetworkReply::NoError) {
        qWarning() << "Server request failed:" << reply->error() << reply->errorString();
        ui->pushButton_updateFirmware->setText(QStringLiteral("Server Unreachable: %1").arg(int(reply->error())));
        return;
    }
    switch (upgradeState) {
    case kAwaitLookup:
        takeLookupReply(body);
        break;
    case kAwaitImage:
        runDownloadUpgrade(body);
        break;
    case kAwaitStatusReply:
        clearFirmwareUrl();
        upgradeState = kAwaitLookup;
        break;
    default:
        break;
    }
}

void TarnLiteSystemTab::takeLookupReply(const QByteArray& body) {
    if (body.isEmpty()) {
        setFirmwareButton(false, QStringLiteral("Server: No Response"));
        return;
    }
    QByteArray address;
    if (cJSON* document = cJSON_ParseWithLength(body.constData(), size_t(body.size()))) {
        const cJSON* url = cJSON_GetObjectItemCaseSensitive(document, "url");
        if (cJSON_IsObject(document) && cJSON_IsString(url) && url->valuestring)
            address = QByteArray(url->valuestring);
        cJSON_Delete(document);
    }
    clearFirmwareUrl();
    firmwareDownloadPath.clear();
    if (!address.isEmpty()) {
        const QString text = QString::fromUtf8(address);
        const QString fileName = text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
        if (address.size() >= int(sizeof(firmwareUrl)))
            qWarning() << sensor->sensorName << "- firmware address too long, ignored";
        else if (!text.contains(QLatin1Char('/')) || !plainFileName(fileName))
            qWarning() << sensor->sensorName << "- firmware address names no plain file, ignored:" << text;
        else if (QUrl(text).scheme() != QLatin1String("https"))
            qWarning() << sensor->sensorName << "- firmware address is not HTTPS, ignored:" << text;
        else {
            std::memcpy(firmwareUrl, address.constData(), size_t(address.size()));
            firmwareDownloadPath = QStringLiteral("%1/TempData/%2").arg(QCoreApplication::applicationDirPath(), fileName);
        }
    }
    if (firmwareUrl[0] != '\0')
        offerUpgrade();
    else
        setFirmwareButton(false, QStringLiteral("Firmware Up-to-Date"));
}

bool TarnLiteSystemTab::refuseWriteDuringRun() {
    if (!runActive())
        return false;
    qWarning() << sensor->sensorName << "- firmware upgrade refused while a run is active";
    messageBox(QStringLiteral("Error:"), QStringLiteral("Please stop the run before upgrading firmware."), kWideBox);
    return true;
}

void TarnLiteSystemTab::on_pushButton_updateFirmware_clicked() {
    if (sensor->transport == 0) {
        messageBox(QStringLiteral("Error:"),
                    QStringLiteral("Firmware upgrade via USB not supported - please use UART interface."), kWideBox);
        return;
    }
    if (refuseWriteDuringRun())
        return;
    if (firmwareUpgradeAvailable) {
        runOnDiskUpgrade();
        return;
    }
    if (firmwareUrl[0] == '\0')
        return;
    upgradeState = kAwaitImage;
    QNetworkRequest request(QUrl(QString::fromUtf8(firmwareUrl)));
    trustExtraCa(request, firmwareServerCa);
    awaitedReply = networkManager->get(request);
}

int TarnLiteSystemTab::writeFirmware(const QString& imagePath) {
    progressDialog = new QProgressDialog(this);
    progressDialog->setLabelText(QStringLiteral("Preparing Sensor for upgrade...\r\nDo not disconnect USB!"));
    progressDialog->setCancelButton(nullptr);
    progressDialog->setRange(0, 100);
    progressDialog->setWindowModality(Qt::WindowModal);
    progressDialog->setMinimumDuration(0);
    progressDialog->setValue(0);
    // Shown now, not on its timer once events run: a box the write opens
    // meanwhile (the missing flasher) must come out on top of it.
    progressDialog->show();

    // The sensor object shows nothing itself; a missing flasher is told here.
    sensor->userError = [this](const QString& text, const QString& informativeText) {
        messageBox(text, informativeText, "");
    };
    QByteArray path = imagePath.toUtf8();
    const int result = sensor->updateFirmware(path.data());
    if (result == 0) {
        qDebug() << sensor->sensorName << ": firmware update successful";
        progressDialog->setValue(100);
    }
    // Gone before a failure is told, so it never covers the box.
    delete progressDialog;
    progressDialog = nullptr;
    if (result != 0)
        showWriteFailure();
    return result;
}

void TarnLiteSystemTab::showWriteFailure() {
    qDebug() << sensor->sensorName << ": firmware update failed";
    messageBox(QString::fromLatin1(sensor->sensorName), QStringLiteral("There was an error updating firmware!"),
               kWideBox);
}

bool TarnLiteSystemTab::storeDownload(const QByteArray& image) {
    if (image.isEmpty()) {
        qWarning() << sensor->sensorName << "- downloaded firmware image is empty";
        return false;
    }
    QFile file(firmwareDownloadPath);
    bool stored = !firmwareDownloadPath.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (stored) {
        stored = file.write(image) == image.size();
        file.close();
        stored = stored && file.error() == QFileDevice::NoError;
    }
    if (!stored) {
        qWarning() << sensor->sensorName << "- firmware image could not be stored at" << firmwareDownloadPath;
        QFile::remove(firmwareDownloadPath);
    }
    return stored;
}

void TarnLiteSystemTab::runOnDiskUpgrade() {
    writeFirmware(QStringLiteral("%1/ondiskfw.bin").arg(QCoreApplication::applicationDirPath()));
    sensor->disconnect();
    setFirmwareButton(false, QStringLiteral("Firmware Up-to-Date"));
}

void TarnLiteSystemTab::runDownloadUpgrade(const QByteArray& image) {
    if (refuseWriteDuringRun()) {
        // The address is kept: the user can ask again once the run has ended.
        setFirmwareButton(true, QStringLiteral("Upgrade Firmware"));
        return;
    }
    // An image that is missing or not stored whole never reaches the sensor;
    // it fails like any write, and the server hears of it.
    const bool stored = storeDownload(image);
    int result = 1;
    if (stored) {
        result = writeFirmware(firmwareDownloadPath);
        QFile::remove(firmwareDownloadPath);
        // The write may have changed the sensor's version.
        sensor->connect();
        sensor->getVersion();
    } else {
        showWriteFailure();
    }

    QJsonObject status;
    status.insert(QStringLiteral("name"), QString::fromLatin1(sensor->sensorName));
    status.insert(QStringLiteral("status"),
                  result == 0 ? QStringLiteral("Firmware upgraded") : QStringLiteral("Firmware upgrade failed!"));
    awaitedReply = postToServer(kStatusPath, QJsonDocument(status).toJson());

    setFirmwareButton(false, QStringLiteral("Firmware Up-to-Date"));
    ui->label_fwVersion->setText(QString::fromLatin1(sensor->versionText));
    if (sensor->sensorInfo.sensorType == 3 && swCompatibleIEC())
        ui->radioButton_lel2->setEnabled(true);
    clearFirmwareUrl();
    upgradeState = kAwaitStatusReply;
}

void TarnLiteSystemTab::onVQSFWChunkWritten(int progress) {
    qDebug() << progress;
    if (!progressDialog)
        return;
    if (progress < 1) {
        progressDialog->setValue(progress);
        QCoreApplication::processEvents();
        return;
    }
    progressDialog->setLabelText(QStringLiteral("Writing Firmware to device...\r\nDo not disconnect USB!"));
    progressDialog->setValue(progress);
    QCoreApplication::processEvents();
    if (progress > 99)
        messageBox(QStringLiteral("Firmware upgraded successfully!"), QString(), kWideBox, false, true);
}
