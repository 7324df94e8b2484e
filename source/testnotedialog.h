// The test-notes dialog: a mandatory test name (no white space, it becomes part
// of directory names) and three optional descriptions, stored when OK is pressed.
#pragma once

#include <QDialog>
#include <QString>

class QRegularExpressionValidator;

namespace Ui {
class TestNoteDialog;
}

class TestNoteDialog : public QDialog {
    Q_OBJECT

public:
    explicit TestNoteDialog(QWidget* parent = nullptr);
    ~TestNoteDialog() override;

    QString testName;
    QString analytes;
    QString environment;
    QString additionalNotes;

    // Empties the stored texts and the fields; disables OK.
    void clearNotes();

signals:
    // The dialog was hidden: OK stored the notes, or the user closed it.
    void hidden();

protected:
    void hideEvent(QHideEvent* event) override;

private slots:
    void on_pushButton_ok_clicked();
    void on_lineEdit_testName_textEdited(QString arg1);

private:
    Ui::TestNoteDialog* ui;
    QRegularExpressionValidator* validator;
};
