#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QKeySequence>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>

#include "messagebox.h"
#include "runviewtab.h"
#include "allsensorspanel.h"
#include "benchpublishing.h"
#include "labsensors.h"
#include "publishdialog.h"
#include "tarnlitesystemtab.h"

namespace {

// Questions are modal boxes over the window, with Cancel as the safe default.
bool confirm(QWidget* window, const QString& text, const QString& informativeText, const QString& styleSheet)
{
    return showMessageBox(window, QMessageBox::Question, text, informativeText, styleSheet, true) == QMessageBox::Ok;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);

    ui->action_addSystem->setShortcut(QKeySequence::New);
    connect(ui->action_addSystem, &QAction::triggered, this, [this](bool) { addSystem(); });
    connect(ui->tabWidget, &QTabWidget::tabCloseRequested, this, &MainWindow::removeSystem);
    allSensors = AllSensorsPanel::addTo(this, ui->tabWidget);

    QAction* openRunAction = ui->menuFIle->addAction(QStringLiteral("&Open Run..."));
    openRunAction->setObjectName(QStringLiteral("action_openRun"));
    openRunAction->setShortcut(QKeySequence::Open);
    connect(openRunAction, &QAction::triggered, this, [this] {
        // Unsaved runs wait in TempData beside the program; saved ones are a step away.
        const QString directory = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Please choose a run directory"),
            QCoreApplication::applicationDirPath() + QStringLiteral("/TempData"));
        if (!directory.isEmpty())
            openRun(directory);
    });

    publishing = new BenchPublishing(this);
    lab = new LabSensors(this);
    allSensors->setLab(lab);
    {
        QSettings stored(BenchPublishing::settingsPath(), QSettings::IniFormat);
        const BrokerSettings settings = BrokerSettings::load(stored);
        publishing->apply(settings);
        lab->apply(settings);
    }
    QAction* publishAction = ui->menuFIle->addAction(QStringLiteral("&Publish to Broker..."));
    publishAction->setObjectName(QStringLiteral("action_publish"));
    connect(publishAction, &QAction::triggered, this, &MainWindow::editPublishing);

    ui->menuFIle->addSeparator();
    QAction* quitAction = ui->menuFIle->addAction(QStringLiteral("&Quit"));
    quitAction->setObjectName(QStringLiteral("action_quit"));
    // The platform's Quit sequence is empty on Windows; Ctrl+Q everywhere.
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setMenuRole(QAction::QuitRole);
    // Through close(), so quitting asks as closing the window does.
    connect(quitAction, &QAction::triggered, this, &QWidget::close);

    addSystem(QString());
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::addSystem(QString tabName)
{
    if (tabName.isEmpty())
        tabName = "New Tab";
    auto* tab = new TarnLiteSystemTab(ui->tabWidget);
    ui->tabWidget->addTab(tab, tabName);
    allSensors->track(tab);
    publishing->track(tab);
    connect(tab, &TarnLiteSystemTab::dataSaved, this, [this](const QString& directory) {
        statusBar()->showMessage(QStringLiteral("Data saved in %1").arg(QDir::toNativeSeparators(directory)));
    });
    ui->tabWidget->setCurrentIndex(ui->tabWidget->count() - 1);
}

RunViewTab* MainWindow::openRun(const QString& directory)
{
    Run run = readRun(directory);
    if (!run.nothingToShow.isEmpty()) {
        showRunProblem(this, QStringLiteral("Nothing to Show"), run.nothingToShow);
        return nullptr;
    }
    auto* tab = new RunViewTab(std::move(run), ui->tabWidget);
    connect(tab, &RunViewTab::picturesSaved, this, [this](const QString& directory) {
        statusBar()->showMessage(QStringLiteral("Pictures saved in %1").arg(QDir::toNativeSeparators(directory)));
    });
    ui->tabWidget->addTab(tab, tab->title());
    ui->tabWidget->setCurrentWidget(tab);
    return tab;
}

void MainWindow::removeSystem(int index)
{
    // A run viewer has no sensor and nothing unsaved: it closes without a question.
    if (auto* viewer = qobject_cast<RunViewTab*>(ui->tabWidget->widget(index))) {
        viewer->deleteLater();
        return;
    }
    if (!confirm(this, "Close Tab Requested", "Do you really want to close the tab?", "QLabel{min-width: 500px;}"))
        return;
    // The tab may still be inside one of its own handlers; let the event loop
    // delete it, which also takes it out of the tab widget.
    if (QWidget* page = ui->tabWidget->widget(index))
        page->deleteLater();
}

void MainWindow::editPublishing()
{
    QSettings stored(BenchPublishing::settingsPath(), QSettings::IniFormat);
    PublishDialog dialog(BrokerSettings::load(stored), publishing->lastStatus(), this);
    dialog.setObjectName(QStringLiteral("publishDialog"));
    connect(publishing, &BenchPublishing::statusChanged, &dialog, &PublishDialog::showStatus);
    dialog.showLabStatus(lab->lastStatus());
    connect(lab, &LabSensors::statusChanged, &dialog, &PublishDialog::showLabStatus);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const BrokerSettings settings = dialog.settings();
    settings.save(stored);
    stored.sync();
    publishing->apply(settings);
    lab->apply(settings);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (confirm(this, "Close Program Requested", "Do you really want to close this program?",
                "QLabel{min-width: 300px;}")) {
        event->accept();
        // The sensors and the bench go offline on the broker.
        publishing->stop();
        lab->stop();
        QApplication::quit();
    } else {
        event->ignore();
    }
}
