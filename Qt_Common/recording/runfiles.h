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

// fopen by a Unicode path: the wide call on Windows, the file-name encoding elsewhere.
FILE* openFile(const QString& path, const char* mode);
// Closes and clears a stream; harmless for a stream that never opened.
void closeFile(FILE*& file);

// printf-style output with numbers as the "C" locale writes them and every
// line feed stored as CR LF, as Windows text mode stores it, so the files are
// the same on every platform and for every user. Files written through this
// are opened in binary mode.
void textPrintf(FILE* file, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// The same for text that must not be taken as a format (notes may hold "%").
void textWrite(FILE* file, const QByteArray& text);

// Appends text to a test-notes file, line feeds stored as CR LF. Text that
// Latin-1 can hold is written in Latin-1, byte for byte as these files have
// always been; a character beyond it turns the whole file into UTF-8 behind a
// byte-order mark (what was there is kept, converted), so no character is
// lost and a reader can tell the two apart by the first bytes. False when the
// file could not be written.
bool appendNotesFile(const QString& path, const QString& text);

// Copies source to destination (which must not exist) and reads both back to
// confirm the copy is whole; false when anything failed.
bool copyVerified(const QString& source, const QString& destination);
