// What the running pages of one program hold: the serial ports their runs use
// and the run directories they write. A page asks before it probes a port or
// writes or clears a directory, so no page can disturb another page's run.
// A hold is a Reservation: it frees its port or directory when it is
// destroyed or replaced. GUI thread only; an owner that is destroyed loses
// everything it held.
#pragma once

#include <QString>

#include <cstdint>

class QObject;

namespace RunRegistry {

enum class Kind { Port, Directory };

// A move-only hold on one port or directory; empty (false) when the
// reservation was refused.
class Reservation {
public:
    Reservation() = default;
    ~Reservation() { release(); }
    Reservation(Reservation&& other) noexcept { take(other); }
    Reservation& operator=(Reservation&& other) noexcept {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;

    explicit operator bool() const { return ticket != 0; }
    // The port name or directory as it was reserved; empty when nothing is held.
    const QString& name() const { return held; }

private:
    friend Reservation reserve(Kind kind, const QString& name, QObject* owner);
    void release();
    void take(Reservation& other) {
        kind = other.kind;
        held = other.held;
        ticket = other.ticket;
        other.held.clear();
        other.ticket = 0;
    }

    Kind kind = Kind::Port;
    QString held;
    uint64_t ticket = 0;
};

// Holds `name` for `owner`; empty when another live owner holds it, or the
// name is empty. A new reservation by the same owner takes the name over.
Reservation reserve(Kind kind, const QString& name, QObject* owner);
inline Reservation reservePort(const QString& port, QObject* owner) {
    return reserve(Kind::Port, port, owner);
}
inline Reservation reserveDirectory(const QString& directory, QObject* owner) {
    return reserve(Kind::Directory, directory, owner);
}

// True when a live owner other than `asker` holds the port or directory.
bool portHeldByOther(const QString& port, const QObject* asker);
bool directoryHeldByOther(const QString& directory, const QObject* asker);

}  // namespace RunRegistry
