// File helpers of the run recording: stamps, safe directory names, stdio files
// opened by path, Windows-style text lines and verified copies.
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdio>

// "%1_%2_%3-%4%5%6": year, month, day, hour, minute, second (2024_03_15-142530).
QString runDateStamp(const QDateTime& when = QDateTime::currentDateTime());
// "%1_%2_%3 - %4_%5_%6" of the time log (2024_03_15 - 14_25_30).
QString timeLogStamp(const QDateTime& when = QDateTime::currentDateTime());

// A sensor or test name made fit to be part of one directory name: path
// separators, characters Windows refuses in names, control characters and
// characters outside Latin-1 become "_", and ".." becomes "__", so the name
// can never reach outside the directory it is placed in.
QString safeNamePart(const QString& name);

// fopen with the path in the platform's file-name encoding (Latin-1 on Windows).
FILE* openFile(const QString& path, const char* mode);
// Closes and clears a stream; harmless for a stream that never opened.
void closeFile(FILE*& file);

// printf-style output with every line feed stored as CR LF, as Windows text
// mode stores it, so the files are the same on every platform. Files written
// through this are opened in binary mode.
void textPrintf(FILE* file, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// The same for text that must not be taken as a format (notes may hold "%").
void textWrite(FILE* file, const QByteArray& text);

// Copies source to destination (which must not exist) and reads both back to
// confirm the copy is whole; false when anything failed.
bool copyVerified(const QString& source, const QString& destination);
