// Why a port cannot be opened: the link only says that opening failed, so the
// port is opened once more here, the way the link opens it, to read the system's error.
#include "sensorport.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>

PortProblem diagnosePort(const QString& path, QString* systemText) {
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        const bool serial = GetCommState(handle, &dcb);
        CloseHandle(handle);
        return serial ? PortProblem::None : PortProblem::NotSerial;
    }
    const DWORD error = GetLastError();
    *systemText = QStringLiteral("error %1").arg(error);
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return PortProblem::Missing;
    case ERROR_ACCESS_DENIED:  // what an exclusive COM port answers while another program has it
    case ERROR_SHARING_VIOLATION:
        return PortProblem::Busy;
    default:
        return PortProblem::Other;
    }
}

#else
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct ErrnoProblem {
    int error;
    PortProblem problem;
};
const ErrnoProblem kOpenErrors[] = {
    {ENOENT, PortProblem::Missing}, {ENODEV, PortProblem::Missing}, {ENXIO, PortProblem::Missing},
    {EACCES, PortProblem::Denied},  {EPERM, PortProblem::Denied},
    {EBUSY, PortProblem::Busy},  // exclusive mode set by the program that has it open
};

}  // namespace

PortProblem diagnosePort(const QString& path, QString* systemText) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        *systemText = QString::fromLocal8Bit(std::strerror(error));
        for (const ErrnoProblem& entry : kOpenErrors)
            if (entry.error == error)
                return entry.problem;
        return PortProblem::Other;
    }
    PortProblem problem = PortProblem::None;
    termios tio{};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        problem = PortProblem::Busy;  // the lock every program of ours takes on its port
    else if (::tcgetattr(fd, &tio) != 0)
        problem = PortProblem::NotSerial;
    ::close(fd);
    return problem;
}
#endif
