// The main window: one tab per attached sensor.
#pragma once

#include <QMainWindow>
#include <QString>

class QCloseEvent;
class AllSensorsPanel;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;

public slots:
    void addSystem(QString tabName = QString());
    void removeSystem(int index);

private:
    Ui::MainWindow* ui;
    AllSensorsPanel* allSensors = nullptr;
};
