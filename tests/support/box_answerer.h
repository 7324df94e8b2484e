// Answers the modal boxes a test makes the program open, so a box never blocks a
// test, and keeps what each one showed for the test to check.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>
#include <QVariant>

#include <functional>

// While it lives, presses `answer` on every modal message box (OK when the box has
// no such button). Any other modal window is closed when `closeOtherModals` is set.
class BoxAnswerer : public QObject {
public:
    struct Seen {
        QString text, informativeText, styleSheet;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        bool parentless = false;
        QWidget* window = nullptr;  // the window the box is parented to (and centred on)
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        QString progressLabel;  // the label of `progressOf`'s progress dialog at that moment
    };

    explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer(answer) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }

    QStringList texts() const {
        QStringList out;
        for (const Seen& s : seen)
            out << s.text;
        return out;
    }
    // "title|text" of each window seen, for failure messages.
    QString summary() const {
        QStringList out;
        for (const Seen& s : seen)
            out << s.title + QLatin1Char('|') + s.text;
        return out.join(QStringLiteral("; "));
    }

    QList<Seen> seen;
    QMessageBox::StandardButton answer;
    // Runs each time a box is seen, before it is answered.
    std::function<void(const Seen&)> onBox;
    QWidget* progressOf = nullptr;
    bool closeOtherModals = false;

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            if (closeOtherModals) {
                Seen s;
                s.title = modal->windowTitle();
                s.text = modal->property("text").toString();
                seen.append(s);
                modal->close();
            }
            return;
        }
        Seen s;
        s.text = box->text();
        s.informativeText = box->informativeText();
        s.styleSheet = box->styleSheet();
        s.buttons = box->standardButtons();
        s.defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
        s.parentless = box->parentWidget() == nullptr;
        s.window = box->parentWidget() ? box->parentWidget()->window() : nullptr;
        s.icon = box->icon();
        s.title = box->windowTitle();
        if (progressOf)
            if (auto* dialog = progressOf->findChild<QProgressDialog*>())
                s.progressLabel = dialog->labelText();
        seen.append(s);
        if (onBox)
            onBox(s);
        QAbstractButton* button = box->button(answer);
        (button ? button : box->button(QMessageBox::Ok))->click();
    }

    QTimer timer_;
};
