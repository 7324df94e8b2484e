#include "testnotedialog.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include "ui_testnotedialog.h"

TestNoteDialog::TestNoteDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui::TestNoteDialog), validator(new QRegularExpressionValidator(this)) {
    ui->setupUi(this);
    setWindowTitle("Test Notes");
    validator->setRegularExpression(QRegularExpression("\\S+"));
    ui->lineEdit_testName->setValidator(validator);
}

TestNoteDialog::~TestNoteDialog() {
    delete ui;
}

void TestNoteDialog::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    emit hidden();
}

void TestNoteDialog::on_pushButton_ok_clicked() {
    testName = ui->lineEdit_testName->text();
    analytes = ui->lineEdit_analytes->text();
    environment = ui->lineEdit_environment->text();
    additionalNotes = ui->plainTextEdit_additionalNotes->toPlainText();
    hide();
}

void TestNoteDialog::on_lineEdit_testName_textEdited(QString arg1) {
    ui->pushButton_ok->setEnabled(!arg1.isEmpty());
}

void TestNoteDialog::clearNotes() {
    testName.clear();
    analytes.clear();
    environment.clear();
    additionalNotes.clear();
    ui->lineEdit_testName->clear();
    ui->lineEdit_analytes->clear();
    ui->lineEdit_environment->clear();
    ui->plainTextEdit_additionalNotes->clear();
    ui->pushButton_ok->setEnabled(false);
}
