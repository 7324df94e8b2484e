// The program's log: one file per start, one record per message.
#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdio>

class QMessageLogContext;

// Where logMessageHandler appends its records. Set once by main before the
// handler is installed; only read afterwards.
extern QString logFilePath;

// Qt message handler: appends one record for the message to logFilePath.
// Safe to enter from several threads at once; a fatal message is written and
// then aborts the process.
void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// Writes the record for one message to an open stream (the part of the handler
// that neither opens files nor aborts). A record is one line: line breaks
// inside the message are written as " | " (see oneLogLine).
void writeLogRecord(std::FILE* file, QtMsgType type, const QMessageLogContext& context, const QByteArray& message);

// The message as one line: line breaks at its ends dropped, each run of line
// breaks within it written " | ". Readable where the log is read (a text
// viewer, a grep for one sensor's lines), and the log's own line ends keep
// meaning "next record".
QByteArray oneLogLine(const QByteArray& message);
