// A pseudo-terminal pair standing in for a serial port: the program under test opens
// slavePath(); the test plays the device on the master side. The slave is put in raw
// mode and kept open here, so the master stays usable while the program reopens the port.
#pragma once

#include <QByteArray>

#include <string>

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool isValid() const { return master_ >= 0 && slave_ >= 0; }
    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }
    int slaveFd() const { return slave_; }

    // Device side: writes all of data to the program; false on failure.
    bool send(const QByteArray& data);
    // Device side: whatever the program wrote, waiting up to timeoutMs for the first byte.
    QByteArray receive(int timeoutMs);
    // Unplugs the device: the program's side hangs up.
    void closeMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
