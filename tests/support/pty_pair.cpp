#include "pty_pair.h"

#ifndef _WIN32

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return;
    const char* name = (::grantpt(master_) == 0 && ::unlockpt(master_) == 0) ? ::ptsname(master_) : nullptr;
    if (!name) return;
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return;
    termios tio{};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
}

PtyPair::~PtyPair() {
    if (slave_ >= 0) ::close(slave_);
    closeMaster();
}

bool PtyPair::send(const QByteArray& data) {
    qsizetype done = 0;
    while (master_ >= 0 && done < data.size()) {
        ssize_t k = ::write(master_, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        done += k;
    }
    return master_ >= 0;
}

QByteArray PtyPair::receive(int timeoutMs) {
    QByteArray out;
    pollfd p{master_, POLLIN, 0};
    while (master_ >= 0 && ::poll(&p, 1, out.isEmpty() ? timeoutMs : 0) > 0 && (p.revents & POLLIN)) {
        char buffer[512];
        ssize_t k = ::read(master_, buffer, sizeof(buffer));
        if (k <= 0) break;
        out.append(buffer, static_cast<int>(k));
    }
    return out;
}

void PtyPair::closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

#endif  // !_WIN32
