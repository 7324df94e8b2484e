// A tab that shows saved runs again, read-only: the first run's concentration
// and environment plots as its sensor page drew them, its time-log events on
// the time axis, its rows, time log, test notes and the response times after
// its gas marks, and statistics between two cursors on its concentration;
// "Add Run" lays further runs' concentration over the first for comparison,
// "Save Pictures" writes the plots as Save Data does. Nothing runs in it, so it may close at any time.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "runreader.h"

class LumoCustomPlot;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class RunTableModel;
class StatsCursors;

class RunViewTab : public QWidget {
    Q_OBJECT

public:
    // A run with rows to show (Run::nothingToShow empty).
    explicit RunViewTab(Run run, QWidget* parent = nullptr);
    ~RunViewTab() override;

    // Reads and adds the run in `directory` to the comparison; false (after
    // telling the user why) when it has nothing to show.
    bool addRun(const QString& directory);
    // vqsConc and vqsEnviro as PNG and PDF into `directory`; false (after
    // telling the user) when a file could not be written.
    bool savePictures(const QString& directory);

    // "<sensor> <run time>" of the first run.
    QString title() const;
    int runCount() const { return int(runs.size()); }
    const Run& run(int n) const { return *runs[size_t(n)]; }
    LumoCustomPlot* concPlot() const { return plotConc; }
    LumoCustomPlot* enviroPlot() const { return plotEnviro; }
    StatsCursors* statsCursors() const { return cursors; }

    // Asks for a directory (caption given); the buttons use it. Replaced by
    // tests, which cannot answer the platform's dialog.
    std::function<QString(const QString& caption)> chooseDirectory;

signals:
    // Pictures were written into `directory`.
    void picturesSaved(const QString& directory);

private:
    void onAddRunClicked();
    void onSavePicturesClicked();
    void showProblems();

    std::vector<std::unique_ptr<Run>> runs;
    LumoCustomPlot* plotConc = nullptr;
    LumoCustomPlot* plotEnviro = nullptr;
    QLabel* labelProblems = nullptr;
    QTableView* tableRows = nullptr;
    RunTableModel* model = nullptr;
    QPlainTextEdit* textTimeLog = nullptr;
    QPlainTextEdit* textNotes = nullptr;
    QPlainTextEdit* textResponse = nullptr;
    StatsCursors* cursors = nullptr;
};

// Tells the user in a modal box over `parent`'s window why a run cannot be shown.
void showRunProblem(QWidget* parent, const QString& text, const QString& informativeText);
