#include "messagebox.h"

#include <QGuiApplication>

QString messageBoxTitle(const QWidget* parent) {
    const QString title = parent ? parent->window()->windowTitle() : QString();
    return title.isEmpty() ? QGuiApplication::applicationDisplayName() : title;
}

int showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& text, const QString& informativeText,
                   const QString& styleSheet, bool withCancel) {
    QMessageBox box(parent);
    box.setWindowTitle(messageBoxTitle(parent));
    box.setIcon(icon);
    box.setStyleSheet(styleSheet);
    box.setText(text);
    box.setInformativeText(informativeText);
    if (withCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    return box.exec();
}
