// One sensor page: form, sensor object on its worker thread, discovery and
// identification, live display, run recording and the firmware flow.
// Implementation is split by concern:
//   tab_core.cpp       construction, wiring, worker thread, cycle hand-off, teardown
//   tab_discovery.cpp  port scan and identification of the selected sensor
//   tab_display.cpp    plots, labels, start/stop display effects
//   tab_recording.cpp  run files, enciphered copies, save/clear, test notes
//   tab_firmware.cpp   firmware check, download, write and report
// and pageanalysis.cpp the response times and statistics cursors under the plot.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QWidget>


#include "runrecorder.h"
#include "runregistry.h"
#include "runsession.h"
#include "sensorsnapshot.h"

class AlarmControls;
class QLabel;
class QResizeEvent;
class QTabWidget;
class QProgressDialog;
class QNetworkAccessManager;
class QNetworkReply;
class VQS;
class TestNoteDialog;
class PageAnalysis;

namespace Ui {
class TarnLiteSystemTab;
}
namespace presentation {
struct StatusLine;
}

class TarnLiteSystemTab : public QWidget {
    Q_OBJECT

public:
    explicit TarnLiteSystemTab(QWidget* parent = nullptr);
    ~TarnLiteSystemTab() override;

    // Stops an active run (sensor idle, port closed), ends the worker thread
    // with a bounded wait and releases what the page owns. Idempotent; the
    // destructor calls it, the main window may call it before deferred deletion.
    void shutdown();

    // Read by tests and the main window.
    VQS* sensorObject() const { return sensor; }
    bool runActive() const;
    // Rows recorded in this run, as the last Sample handed to the page said.
    uint32_t recordedCycles() const { return session ? session->rows() : 0; }
    // The run this page drives (samples, state, stop).
    RunSession* runSession() const { return session; }
    bool swCompatible();
    bool swCompatibleIEC();
    bool selfTestPassed() const;
    // The run clock (invalid between a clear and the next start); the
    // benchmark starts it to place its prefilled points on the time axis.
    QElapsedTimer* runClock() const { return elapsedTimer; }
    // "%1h:%2m:%3s" of a run clock reading (hours not wrapped at 24).
    static QString elapsedText(qint64 ms);
    // What the page shows now: identity, run state and the last recorded cycle.
    const SensorSnapshot& snapshot() const { return shown; }
    // Item data of each entry of the port list ("name - port"): a sensor name
    // may itself hold " - ", so the text is for people only.
    static constexpr int PortNameRole = Qt::UserRole;
    static constexpr int SensorNameRole = Qt::UserRole + 1;

signals:
    // After each recorded cycle and on every change of run state (started,
    // recovering, lost, stopped) or of the identified sensor.
    void snapshotChanged(const SensorSnapshot& snapshot);
    // A run was saved; `directory` holds its plain files.
    void dataSaved(const QString& directory);

public slots:
    void on_pushButton_scanPorts_clicked();
    void on_comboBox_ports_currentIndexChanged(int index);
    void on_pushButton_start_toggled(bool checked);
    void on_pushButton_saveData_clicked();
    void on_pushButton_clearData_clicked();
    void on_pushButton_testNotes_clicked();
    // Gas marks of the recording run, in its time log and on the concentration plot.
    void on_pushButton_gasOn_clicked();
    void on_pushButton_gasOff_clicked();
    void on_pushButton_updateFirmware_clicked();
    // Hands the idle sensor object's cycle to the run as its worker would
    // (tests and benchmarks drive the page this way).
    void onVQSWorkComplete();
    // Ends the run as the worker's stop would, with the idle object's result.
    void onVQSStopped();
    // What the page does with each Sample of its run and with the run's end.
    void onSample(const Sample& sample);
    void onRunEnded(bool failed, bool lost);
    void onVQSFWChunkWritten(int progress);
    // The run resumed at another port: the page's entry and the ports held follow it.
    void onSensorPortMoved(QString portPath);
    void onReplyFinished(QNetworkReply* reply);
    void clearData();
    int saveData(QString saveDirectory);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // ---- display (tab_display.cpp) ----
    void setupPlots();
    void setupValueLabels();
    // The button column scrolls when the page is short (small screens).
    void setupButtonColumn();
    // The alarm row under the gas marks (built in code; alarmcontrols.h).
    void setupAlarms();
    // Save Data and Clear Data: enabled while a finished run waits to be saved or thrown away.
    void enableRunDataButtons(bool enabled);
    // Gas on and Gas off: enabled while a run records.
    void enableGasMarkButtons(bool enabled);
    // A mark just made, drawn at its run time on the concentration plot.
    void showMark(double seconds, const QString& label);
    void updateDisplay(const Sample& sample);
    void resetDisplay();
    // Unit label and concUnit for a new run, by sensor type and unit buttons.
    void applyRunUnit();
    // The unit code a run started now would measure in.
    uint8_t nextRunUnit() const;
    // Display side of a run start: button texts, unit buttons, run clock, plots.
    void showRunStarted();
    void setUnitButtonsAfterRun();
    double elapsedSeconds() const;
    // Moves a value axis of plot_enviro to the data of its curves, as a
    // rescale over all their points would, from the ranges kept below.
    void followEnviroData(int side);
    void setStatusLine(const presentation::StatusLine& line);
    // label_time from the run clock and label_cycles from the sample's Cycle column.
    void showTimeAndCycles(int32_t cycle);
    // Text of a label that changes every cycle, without laying the page out
    // again (see heldLabels).
    void setValueText(QLabel* label, const QString& text);
    void releaseValueLabels();

    // ---- snapshot for views over all pages (tab_snapshot.cpp) ----
    void publishSnapshot(SensorSnapshot::State state);
    void publishRunStart();
    void publishCycle(const Sample& sample);

    // ---- discovery (tab_discovery.cpp) ----
    // Applies the entry's port and transport to the sensor object; false when
    // the text names no port.
    bool selectPortFromEntry(const QString& entry);
    struct PortEntry;
    void usePort(const PortEntry& port);
    void resetIdentification();
    void offerUnits();

    // ---- core (tab_core.cpp) ----
    // A modal message box over this page's window: text, informative text,
    // OK (or OK and Cancel, Cancel the default) and a label style sheet.
    // Questions carry the question icon, other boxes the warning icon unless
    // `information` is set. Returns the button pressed (QMessageBox::Ok or
    // QMessageBox::Cancel).
    int messageBox(const QString& text, const QString& informativeText, const char* styleSheet,
                   bool withCancel = false, bool information = false);
    // Asks the worker to stop; also raises the sensor's stop request so a
    // UART poll that waits for a new sample ends within one poll.
    void requestStop();

    // ---- recording (tab_recording.cpp) ----
    // File side of a run start, called by on_pushButton_start_toggled(true)
    // before anything else: clearData(), then either reopenRunFiles() (sensor
    // still running) or the new run directory with its overwrite question and
    // openRunFiles(). Returns 0 when the run's files are ready, 1 when the start
    // is abandoned (the toggle slot then unchecks the button without a stop).
    // Unit choice, buttons, clock, start(), the "Started" log line and the plots
    // are done by the toggle slot afterwards.
    int startRun();
    // A run whose files were neither saved nor cleared.
    bool hasUnsavedRun() const;
    // The port ("COM5") and sensor name ("S123") the list's entry "S123 - COM5"
    // carries; empty for a text the list does not hold.
    QString portNameOfEntry(const QString& entry) const;
    QString sensorNameOfEntry(const QString& entry) const;
    void writeTimeLog(QString event);
    // Closes the run's data files if open (end of run, teardown).
    void closeRunFiles();
    int openRunFiles();
    int reopenRunFiles();
    // 0 when the recorder opened its files, else 1 after the page's box.
    int reportOpenResult(int result);
    // Directory names built from the sensor and test names (tab_save.cpp).
    QString portListName() const;
    // Deletes the files directly in a directory, then the directory if empty.
    static void removeDirectoryFiles(const QString& directory);
    // Shows the notes dialog until a test name is stored; false when the page
    // was shut down or destroyed meanwhile.
    bool waitForTestName();
    void writeTestNotes(const QString& directory);

    // ---- firmware (tab_firmware.cpp) ----
    // Firmware check after identification (on-disk image, then the web server).
    void checkFirmware();
    // On-disk version file against the sensor: 1 newer, 0 not newer, -1 no file.
    int onDiskImageNewer() const;
    void setFirmwareButton(bool enabled, const QString& text);
    // Enables the button for an upgrade found (shown as needing UART on USB).
    void offerUpgrade();
    // Debug line and box of a write that did not happen or failed.
    void showWriteFailure();
    // The downloaded image at firmwareDownloadPath; false (nothing kept) when
    // it is empty or cannot be stored whole.
    bool storeDownload(const QByteArray& image);
    void takeLookupReply(const QByteArray& body);
    void runOnDiskUpgrade();
    void runDownloadUpgrade(const QByteArray& image);
    // Progress dialog around the sensor's write; 0 written, non-zero not written.
    int writeFirmware(const QString& imagePath);
    // The link must not be shared with a running measurement loop.
    bool refuseWriteDuringRun();
    QNetworkReply* postToServer(const char* path, const QByteArray& body);
    void clearFirmwareUrl();

    QString firmwareDownloadPath;
    QString firmwareServer;             // base address of the maker's web server
    QList<QByteArray> firmwareServerCa;  // extra trusted CA certificates (PEM), tests only
    // The request whose reply upgradeState expects; any other reply is dropped
    // (compared by identity only, never dereferenced).
    QNetworkReply* awaitedReply = nullptr;
    friend class TestFirmwareFlow;

public:
    // Points the firmware flow at another server and trusts the given CA
    // certificates (PEM) for it in addition to the system's; used by tests.
    void setFirmwareServer(const QString& baseUrl, const QList<QByteArray>& extraCaPem);

private:

    Ui::TarnLiteSystemTab* ui = nullptr;
    QTabWidget* tabWidget = nullptr;
    TestNoteDialog* testNoteDialog = nullptr;
    QProgressDialog* progressDialog = nullptr;
    VQS* sensor = nullptr;
    QString comPort;
    // The run's directory, files and cipher (shared with the command-line tool).
    RunRecorder recorder;
    QElapsedTimer* elapsedTimer = nullptr;
    // The run: the sensor object on its worker thread, driven cycle by cycle.
    RunSession* session = nullptr;
    AlarmControls* alarmControls = nullptr;
    // Response times of the run's gas steps and the statistics cursors, under the concentration plot.
    PageAnalysis* analysis = nullptr;
    QNetworkAccessManager* networkManager = nullptr;
    int upgradeState = 0;
    char firmwareUrl[256] = {};
    bool firmwareUpgradeAvailable = false;
    double concAxisMax = 120.0;

    // Transport of each listed port (0 USB, 1 UART) and the device path it
    // opens; the list's entries name their port by PortNameRole.
    struct PortEntry {
        QString portName;  // "COM5", "ttyUSB0"
        QString path;      // device path opened on systems without COM numbers
        int transport = 0;
    };
    QList<PortEntry> portEntries;
    // From the press of Start until the sensor reports its loop ended: the
    // worker owns the link, so scan and selection leave the sensor alone.
    bool runInProgress = false;
    bool comboEnabledBeforeRun = false;
    // Value ranges of the environment curves on the left (0) and right (1)
    // axis, grown as points are added: following a long run's data then costs
    // nothing per cycle instead of a pass over every point.
    double enviroMin[2] = {0, 0};
    double enviroMax[2] = {0, 0};
    bool enviroHasData[2] = {false, false};
    // Every QLabel text change lays the whole page out again, which costs more
    // than both replots. So while values are shown, each value label holds the
    // size the layout gave it (growing only when a text needs more) and a new
    // text is merely repainted. The page meanwhile keeps the minimum size it
    // had before, so the window can still shrink; a resize, a new run and the
    // end of a run let the layout place the labels afresh.
    QList<QLabel*> heldLabels;
    // The port the scan is probing; identification during a scan only runs
    // for the entry of that port (the one just added).
    QString probingPort;
    // The entry whose sensor the sensor object was last identified from.
    QString identifiedEntry;
    // The port this page's run holds and the run directory it writes (see
    // runregistry.h): released when replaced or reset.
    RunRegistry::Reservation runPort;
    RunRegistry::Reservation runDirectory;
    bool shutDown = false;
    // What the page shows, kept as values for views over all pages (the
    // status line's text separately: a lost run's snapshot says so instead).
    SensorSnapshot shown;
    QString statusShown;
};
