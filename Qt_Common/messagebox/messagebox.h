// The program's message boxes. Each is modal, parented to the widget it
// concerns (so it comes up centred on that widget's window, not on a corner
// of the screen), titled after that window, and carries an icon that says
// whether it reports trouble, asks or informs.
#pragma once

#include <QMessageBox>
#include <QString>

// The box's title: the title of `parent`'s window, or the application's name
// when that window has none.
QString messageBoxTitle(const QWidget* parent);

// Text, informative text and a label style sheet; OK, or OK and Cancel with
// Cancel the default. Returns the button pressed.
int showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& text, const QString& informativeText,
                   const QString& styleSheet, bool withCancel = false);
