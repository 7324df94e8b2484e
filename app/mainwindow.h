// The main window: one tab per attached sensor.
#pragma once

#include <QMainWindow>
#include <QString>

class QCloseEvent;
class RunViewTab;
class AllSensorsPanel;
class BenchPublishing;
class LabSensors;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Opens the saved run in `directory` read-only in a tab of its own; null
    // (after telling the user why) when it has nothing to show.
    RunViewTab* openRun(const QString& directory);
    // "Publish to Broker...": the settings, kept beside the program, applied at once.
    void editPublishing();
    BenchPublishing* benchPublishing() const { return publishing; }
    LabSensors* labSensors() const { return lab; }

protected:
    void closeEvent(QCloseEvent* event) override;

public slots:
    void addSystem(QString tabName = QString());
    void removeSystem(int index);

private:
    Ui::MainWindow* ui;
    AllSensorsPanel* allSensors = nullptr;
    BenchPublishing* publishing = nullptr;
    LabSensors* lab = nullptr;  // the other benches in the All sensors panel
};
