// "Publish to Broker": where this bench publishes its sensors (host, port,
// client id, user, password, TLS and its CA file) and whether it does, with
// the publisher's last report; and whether the All sensors panel shows the
// lab's other benches from the same broker, with the lab view's report.
#pragma once

#include <QDialog>

#include "brokersettings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

class PublishDialog : public QDialog {
    Q_OBJECT
public:
    PublishDialog(const BrokerSettings& settings, const QString& status, QWidget* parent = nullptr);

    // The fields as settings (the bench name and what the dialog does not show kept).
    BrokerSettings settings() const;

public slots:
    void showStatus(const QString& text);
    void showLabStatus(const QString& text);

private:
    BrokerSettings initial;
    QCheckBox* enabled;
    QCheckBox* showLab;
    QLineEdit* host;
    QSpinBox* port;
    QLineEdit* clientId;
    QLineEdit* user;
    QLineEdit* password;
    QCheckBox* tls;
    QLineEdit* caFile;
    QLabel* status;
    QLabel* labStatus;
};
