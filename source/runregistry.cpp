#include "runregistry.h"

#include <QDir>
#include <QHash>
#include <QObject>
#include <QPointer>

namespace {

using Holders = QHash<QString, QPointer<QObject>>;

Holders& ports() {
    static Holders held;
    return held;
}

Holders& directories() {
    static Holders held;
    return held;
}

// Two spellings of one directory must meet in one key.
QString directoryKey(const QString& directory) {
    return QDir::cleanPath(QDir(directory).absolutePath());
}

bool heldByOther(const Holders& held, const QString& key, const QObject* asker) {
    const auto it = held.constFind(key);
    return it != held.constEnd() && !it.value().isNull() && it.value().data() != asker;
}

bool claim(Holders& held, const QString& key, QObject* owner) {
    if (key.isEmpty())
        return true;
    if (heldByOther(held, key, owner))
        return false;
    held.insert(key, owner);
    return true;
}

void release(Holders& held, const QString& key, QObject* owner) {
    const auto it = held.find(key);
    if (it != held.end() && (it.value().isNull() || it.value().data() == owner))
        held.erase(it);
}

}  // namespace

namespace RunRegistry {

bool claimPort(const QString& port, QObject* owner) {
    return claim(ports(), port, owner);
}

void releasePort(const QString& port, QObject* owner) {
    release(ports(), port, owner);
}

bool portHeldByOther(const QString& port, const QObject* asker) {
    return heldByOther(ports(), port, asker);
}

bool claimDirectory(const QString& directory, QObject* owner) {
    return directory.isEmpty() || claim(directories(), directoryKey(directory), owner);
}

void releaseDirectory(const QString& directory, QObject* owner) {
    if (!directory.isEmpty())
        release(directories(), directoryKey(directory), owner);
}

bool directoryHeldByOther(const QString& directory, const QObject* asker) {
    return !directory.isEmpty() && heldByOther(directories(), directoryKey(directory), asker);
}

}  // namespace RunRegistry
