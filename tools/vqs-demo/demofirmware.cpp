#include "demofirmware.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

const char* const kImageTag = "VQSDEMOFW";
// Large enough for a write to be watched, well inside the sensor's application region.
constexpr int kImageSize = 64 * 1024;

QString versionText(const FirmwareVersion& v) {
    return QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
}

// Replaces the file only when its content differs; written whole or not at all.
bool writeFile(const QString& path, const QByteArray& content, QFileDevice::Permissions extra = {}) {
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == content)
        return true;
    existing.close();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        qWarning().noquote() << "Demo: cannot write" << path << file.errorString();
        return false;
    }
    if (extra)
        QFile::setPermissions(path, QFile::permissions(path) | extra);
    return true;
}

}  // namespace

QByteArray demoFirmwareImage(const FirmwareVersion& version) {
    QByteArray image = QByteArray(kImageTag) + ' ' + versionText(version).toLatin1() + '\n';
    image.reserve(kImageSize);
    // A fixed pseudo-random body, so two images of one version are identical.
    uint32_t x = 0x2545F491u ^ (uint32_t(version[0]) << 24 | uint32_t(version[1]) << 16 |
                                uint32_t(version[2]) << 8 | version[3]);
    while (image.size() < kImageSize) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image.append(char(x & 0xFF));
    }
    return image;
}

bool demoImageVersion(const std::vector<uint8_t>& head, FirmwareVersion* version) {
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(head.data()), int(head.size()));
    static const QRegularExpression pattern(QStringLiteral("^VQSDEMOFW (\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\n"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    for (int i = 0; i < 4; ++i) {
        const int part = match.captured(i + 1).toInt();
        if (part > 255)
            return false;
        (*version)[size_t(i)] = uint8_t(part);
    }
    return true;
}

bool placeOnDiskFirmware(const QString& dir, const FirmwareVersion& version) {
    const QString imagePath = dir + QStringLiteral("/ondiskfw.bin");
    const QString versionPath = dir + QStringLiteral("/ondiskfwv.bin");
    if (QFileInfo(imagePath).isFile() && QFileInfo(versionPath).isFile())
        return true;
    return writeFile(imagePath, demoFirmwareImage(version)) &&
           writeFile(versionPath, versionText(version).toLatin1() + '\n');
}

bool placeFlasher(const QString& dir, const QString& realFlasher) {
    QString quoted = realFlasher;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    const QByteArray script = QStringLiteral(
        "#!/bin/sh\n"
        "# Flasher beside vqs-demo. A simulated sensor sits on a pseudo-terminal, which\n"
        "# drops the parity bit the flasher sets and checks, and its bootloader starts the\n"
        "# new firmware only when told to. Any other port gets the flasher unchanged.\n"
        "real='%1'\n"
        "for port in \"$@\"; do :; done\n"
        "case \"$(readlink -f -- \"$port\" 2>/dev/null)\" in\n"
        "  /dev/pts/*) exec \"$real\" -m 8n1 -g 0x08000000 \"$@\" ;;\n"
        "esac\n"
        "exec \"$real\" \"$@\"\n").arg(quoted).toLocal8Bit();
    return writeFile(dir + QStringLiteral("/stm32flash"), script,
                     QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
}
