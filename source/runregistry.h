// What the running pages of one program hold: the serial ports their runs use
// and the run directories they write. A page asks before it probes a port or
// writes or clears a directory, so no page can disturb another page's run.
// GUI thread only; an owner that is destroyed releases everything it held.
#pragma once

#include <QString>

class QObject;

namespace RunRegistry {

// Claims `key` for `owner` in one of two namespaces; false when another live
// owner holds it (the claim is then not made).
bool claimPort(const QString& port, QObject* owner);
void releasePort(const QString& port, QObject* owner);
// True when a live owner other than `asker` holds the port.
bool portHeldByOther(const QString& port, const QObject* asker);

bool claimDirectory(const QString& directory, QObject* owner);
void releaseDirectory(const QString& directory, QObject* owner);
bool directoryHeldByOther(const QString& directory, const QObject* asker);

}  // namespace RunRegistry
