// Captures Qt log lines while in scope, so tests can assert on what was logged
// and at which level. Lines from every thread are kept; the previous handler is
// restored on destruction.
#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

class CapturedLog {
public:
    struct Line {
        QtMsgType type;
        QString text;
    };

    CapturedLog() {
        QMutexLocker lock(&mutex());
        lines().clear();
        previous_ = qInstallMessageHandler(&CapturedLog::handler);
    }
    ~CapturedLog() { qInstallMessageHandler(previous_); }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    QVector<Line> all() const {
        QMutexLocker lock(&mutex());
        return lines();
    }
    void clear() {
        QMutexLocker lock(&mutex());
        lines().clear();
    }
    // Lines containing the fragment, optionally only at one level.
    int count(const QString& fragment) const {
        int n = 0;
        for (const Line& line : all())
            n += line.text.contains(fragment) ? 1 : 0;
        return n;
    }
    bool has(QtMsgType type, const QString& fragment) const {
        for (const Line& line : all())
            if (line.type == type && line.text.contains(fragment))
                return true;
        return false;
    }
    // Index of the first line containing the fragment, -1 when none.
    int indexOf(const QString& fragment) const {
        const QVector<Line> copy = all();
        for (int i = 0; i < copy.size(); ++i)
            if (copy[i].text.contains(fragment))
                return i;
        return -1;
    }
    QString dump() const {
        QStringList out;
        for (const Line& line : all())
            out << QString::number(line.type) + ": " + line.text;
        return out.join('\n');
    }

private:
    static QMutex& mutex() {
        static QMutex m;
        return m;
    }
    static QVector<Line>& lines() {
        static QVector<Line> l;
        return l;
    }
    static void handler(QtMsgType type, const QMessageLogContext&, const QString& text) {
        QMutexLocker lock(&mutex());
        lines().push_back({type, text});
    }

    QtMessageHandler previous_ = nullptr;
};
