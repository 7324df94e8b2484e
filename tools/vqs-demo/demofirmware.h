// The demo's firmware files: an image newer than the simulated sensors' own, its
// version file, and a flasher that can reach the simulated bootloader.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

using FirmwareVersion = std::array<uint8_t, 4>;

// An image whose first bytes name its version ("VQSDEMOFW 4.2.0.0\n"), so the
// simulator can report that version once the image has been written.
QByteArray demoFirmwareImage(const FirmwareVersion& version);
// The version an image starts with; false when it does not carry one.
bool demoImageVersion(const std::vector<uint8_t>& head, FirmwareVersion* version);

// Writes "ondiskfw.bin" and "ondiskfwv.bin" into dir unless an image is there
// already (a user's own image is kept). False when they cannot be written.
bool placeOnDiskFirmware(const QString& dir, const FirmwareVersion& version);

// Writes the "stm32flash" script into dir that runs the real flasher (realFlasher):
// for a port on a pseudo-terminal in 8N1 and with a restart after the write,
// which is what the simulated bootloader needs; for any other port unchanged.
bool placeFlasher(const QString& dir, const QString& realFlasher);
