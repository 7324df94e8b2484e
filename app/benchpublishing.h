// The program's publishing to a broker: one Publisher for the bench while it
// is enabled, and one RunPublisher per sensor page, so that every page's runs
// reach the broker. Publishing only queues: a broker that is away never holds
// up a run. Lives on the GUI thread.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

#include "brokersettings.h"

class Publisher;
class RunPublisher;
class TarnLiteSystemTab;

class BenchPublishing : public QObject {
    Q_OBJECT
public:
    explicit BenchPublishing(QObject* parent = nullptr);
    ~BenchPublishing() override;

    // Starts publishing with `settings` (ends what was published before);
    // disabled settings or an empty host end it.
    void apply(const BrokerSettings& settings);
    // Publishes the page's runs from now on, while publishing is enabled.
    void track(TarnLiteSystemTab* page);
    // Ends publishing: the sensors and the bench offline, what is queued given drainMs.
    void stop(int drainMs = 3000);

    bool active() const { return publisher != nullptr; }
    // The publisher's last report ("connected to HOST:PORT", or the problem),
    // "Not publishing" while disabled.
    QString lastStatus() const { return status; }

    // The settings file beside the program, group "publish".
    static QString settingsPath();

signals:
    void statusChanged(const QString& text);

private:
    void follow(TarnLiteSystemTab* page);
    void setStatus(const QString& text);

    std::unique_ptr<Publisher> publisher;
    QHash<TarnLiteSystemTab*, RunPublisher*> pages;  // the run publishers, children of this
    QString status;
};
