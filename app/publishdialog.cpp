#include "publishdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

PublishDialog::PublishDialog(const BrokerSettings& settings, const QString& statusText, QWidget* parent)
    : QDialog(parent), initial(settings) {
    setWindowTitle(QStringLiteral("Publish to Broker"));
    auto* form = new QFormLayout;
    enabled = new QCheckBox(QStringLiteral("Publish the sensors' runs to an MQTT broker"), this);
    enabled->setObjectName(QStringLiteral("checkBox_publish"));
    enabled->setChecked(settings.enabled);
    form->addRow(enabled);
    showLab = new QCheckBox(QStringLiteral("Show the lab from the broker"), this);
    showLab->setObjectName(QStringLiteral("checkBox_showLab"));
    showLab->setToolTip(QStringLiteral("The All sensors panel shows every bench's sensors from the broker"));
    showLab->setChecked(settings.showLab);
    form->addRow(showLab);
    host = new QLineEdit(settings.host, this);
    host->setObjectName(QStringLiteral("lineEdit_host"));
    form->addRow(QStringLiteral("Host:"), host);
    port = new QSpinBox(this);
    port->setObjectName(QStringLiteral("spinBox_port"));
    port->setRange(1, 65535);
    port->setValue(settings.port);
    form->addRow(QStringLiteral("Port:"), port);
    clientId = new QLineEdit(settings.clientId, this);
    clientId->setObjectName(QStringLiteral("lineEdit_clientId"));
    clientId->setPlaceholderText(BrokerSettings().effectiveClientId());
    form->addRow(QStringLiteral("Client ID:"), clientId);
    user = new QLineEdit(settings.user, this);
    user->setObjectName(QStringLiteral("lineEdit_user"));
    form->addRow(QStringLiteral("User:"), user);
    password = new QLineEdit(settings.password, this);
    password->setObjectName(QStringLiteral("lineEdit_password"));
    password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Password:"), password);
    tls = new QCheckBox(QStringLiteral("TLS"), this);
    tls->setObjectName(QStringLiteral("checkBox_tls"));
    tls->setChecked(settings.tls);
    // The usual port goes with the choice, unless another was set.
    connect(tls, &QCheckBox::toggled, this, [this](bool on) {
        if (port->value() == (on ? BrokerSettings::kPlainPort : BrokerSettings::kTlsPort))
            port->setValue(on ? BrokerSettings::kTlsPort : BrokerSettings::kPlainPort);
    });
    form->addRow(tls);
    caFile = new QLineEdit(settings.caFile, this);
    caFile->setObjectName(QStringLiteral("lineEdit_caFile"));
    caFile->setPlaceholderText(QStringLiteral("the system's certificates"));
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("CA certificate"), caFile->text());
        if (!file.isEmpty())
            caFile->setText(file);
    });
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(caFile);
    caRow->addWidget(browse);
    form->addRow(QStringLiteral("CA file:"), caRow);
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("label_publishStatus"));
    status->setWordWrap(true);
    form->addRow(QStringLiteral("Status:"), status);
    showStatus(statusText);
    labStatus = new QLabel(this);
    labStatus->setObjectName(QStringLiteral("label_labStatus"));
    labStatus->setWordWrap(true);
    form->addRow(QStringLiteral("Lab view:"), labStatus);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

BrokerSettings PublishDialog::settings() const {
    BrokerSettings s = initial;
    s.enabled = enabled->isChecked();
    s.showLab = showLab->isChecked();
    s.host = host->text().trimmed();
    s.port = quint16(port->value());
    s.clientId = clientId->text().trimmed();
    s.user = user->text();
    s.password = password->text();
    s.tls = tls->isChecked();
    s.caFile = caFile->text().trimmed();
    return s;
}

void PublishDialog::showStatus(const QString& text) {
    status->setText(text);
}

void PublishDialog::showLabStatus(const QString& text) {
    labStatus->setText(text);
}
