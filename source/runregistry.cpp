#include "runregistry.h"

#include <QDir>
#include <QHash>
#include <QObject>
#include <QPointer>

namespace {

struct Holder {
    QPointer<QObject> owner;
    uint64_t ticket = 0;
};
using Holders = QHash<QString, Holder>;

Holders& holders(RunRegistry::Kind kind) {
    static Holders ports;
    static Holders directories;
    return kind == RunRegistry::Kind::Port ? ports : directories;
}

// Two spellings of one directory must meet in one key.
QString keyOf(RunRegistry::Kind kind, const QString& name) {
    if (kind == RunRegistry::Kind::Port || name.isEmpty())
        return name;
    return QDir::cleanPath(QDir(name).absolutePath());
}

bool heldByOther(const Holders& held, const QString& key, const QObject* asker) {
    const auto it = held.constFind(key);
    return it != held.constEnd() && !it.value().owner.isNull() && it.value().owner.data() != asker;
}

uint64_t nextTicket() {
    static uint64_t last = 0;
    return ++last;
}

}  // namespace

namespace RunRegistry {

Reservation reserve(Kind kind, const QString& name, QObject* owner) {
    Reservation reservation;
    const QString key = keyOf(kind, name);
    Holders& held = holders(kind);
    if (key.isEmpty() || heldByOther(held, key, owner))
        return reservation;
    reservation.kind = kind;
    reservation.held = name;
    reservation.ticket = nextTicket();
    held.insert(key, Holder{owner, reservation.ticket});
    return reservation;
}

void Reservation::release() {
    if (ticket == 0)
        return;
    Holders& held = holders(kind);
    // Only this reservation's own entry: the owner may have taken the name
    // over with a newer one.
    const auto it = held.find(keyOf(kind, this->held));
    if (it != held.end() && it.value().ticket == ticket)
        held.erase(it);
    this->held.clear();
    ticket = 0;
}

bool portHeldByOther(const QString& port, const QObject* asker) {
    return heldByOther(holders(Kind::Port), port, asker);
}

bool directoryHeldByOther(const QString& directory, const QObject* asker) {
    return !directory.isEmpty() && heldByOther(holders(Kind::Directory), keyOf(Kind::Directory, directory), asker);
}

}  // namespace RunRegistry
