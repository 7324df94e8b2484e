#include "runviewtab.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <cmath>

#include "analysisreport.h"
#include "gasmarks.h"
#include "lumocustomplot.h"
#include "messagebox.h"
#include "presentation.h"
#include "runfigure.h"
#include "runplots.h"
#include "runtablemodel.h"
#include "savelocation.h"
#include "statscursors.h"

namespace {

const char* const kButtonStyle =
    "QPushButton{color:#E8E8E9;font-family:Quicksand;font-size:12pt;background-color:#356797;"
    "border:none;border-radius:2px;padding:2px 10px;}"
    "QPushButton:hover{background-color:#3C6D96;}";

QLabel* colouredLabel(const QString& text, const char* colour, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setStyleSheet(QStringLiteral("QLabel{color:%1;font-family:Quicksand;}").arg(QLatin1String(colour)));
    return label;
}

QString timeLogText(const Run& run) {
    QStringList lines;
    for (const RunEvent& event : run.events) {
        const double s = run.secondsOf(event);
        const QString at = std::isfinite(s) ? QStringLiteral("%1 s").arg(s, 0, 'f', 0) : QStringLiteral("?");
        lines << QStringLiteral("%1  (%2)  %3").arg(event.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), at,
                                                  event.text);
    }
    return lines.isEmpty() ? QStringLiteral("(no time log)") : lines.join('\n');
}

}  // namespace

void showRunProblem(QWidget* parent, const QString& text, const QString& informativeText) {
    showMessageBox(parent, QMessageBox::Warning, text, informativeText, QStringLiteral("QLabel{min-width: 300px;}"));
}

RunViewTab::RunViewTab(Run first, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("RunViewTab"));
    chooseDirectory = [this](const QString& caption) {
        return QFileDialog::getExistingDirectory(this, caption, runplots::saveStartDirectory());
    };
    runs.push_back(std::make_unique<Run>(std::move(first)));
    const Run& run = *runs.front();

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* labelTitle = new QLabel(this);
    labelTitle->setObjectName(QStringLiteral("label_runTitle"));
    labelTitle->setStyleSheet(QStringLiteral("QLabel{font-family:Quicksand;font-size:12pt;}"));
    labelTitle->setText(QStringLiteral("%1 - %2 rows").arg(run.title()).arg(run.table.rows()));
    labelTitle->setToolTip(run.directory);
    top->addWidget(labelTitle);
    // The directory may be long: it gives way to the buttons, in full as a tooltip.
    auto* labelDirectory = new QLabel(run.directory, this);
    labelDirectory->setObjectName(QStringLiteral("label_runDirectory"));
    labelDirectory->setStyleSheet(QStringLiteral("QLabel{color:#606060;font-family:Quicksand;}"));
    labelDirectory->setToolTip(run.directory);
    labelDirectory->setMinimumWidth(0);
    labelDirectory->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    labelDirectory->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(labelDirectory, 1);
    auto* addRunButton = new QPushButton(QStringLiteral("Add Run"), this);
    addRunButton->setObjectName(QStringLiteral("pushButton_addRun"));
    auto* savePicturesButton = new QPushButton(QStringLiteral("Save Pictures"), this);
    savePicturesButton->setObjectName(QStringLiteral("pushButton_savePictures"));
    for (QPushButton* button : {addRunButton, savePicturesButton}) {
        button->setStyleSheet(QLatin1String(kButtonStyle));
        button->setMinimumWidth(qMax(100, button->sizeHint().width()));
        top->addWidget(button);
    }
    layout->addLayout(top);

    labelProblems = new QLabel(this);
    labelProblems->setObjectName(QStringLiteral("label_problems"));
    labelProblems->setStyleSheet(presentation::labelStyle(presentation::Tone::Orange));
    labelProblems->setWordWrap(true);
    layout->addWidget(labelProblems);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    layout->addWidget(splitter, 1);

    auto* concBox = new QWidget(splitter);
    auto* concLayout = new QVBoxLayout(concBox);
    concLayout->setContentsMargins(0, 0, 0, 0);
    concLayout->addWidget(colouredLabel(QStringLiteral("Concentration - ") + run.table.concHeader(),
                                        runplots::kConcColour, concBox));
    plotConc = new LumoCustomPlot(concBox);
    plotConc->setObjectName(QStringLiteral("plot_conc"));
    plotConc->setMinimumHeight(140);
    concLayout->addWidget(plotConc, 1);
    // Statistics between two cursors on the first run's concentration, from its rows as read.
    cursors = new StatsCursors(plotConc, this);
    cursors->setUnit(QLatin1String(presentation::runUnitName(run.table.runUnit())));
    cursors->setSource([&run](double from, double to) {
        return statsBetween(run.table.seconds, run.table.concentration, from, to, run.table.timeSorted);
    });
    cursors->button()->setStyleSheet(QLatin1String(kButtonStyle) +
                                     QStringLiteral("QPushButton:checked{background-color:#1F3D5A;}"));
    cursors->button()->setMinimumWidth(qMax(100, cursors->button()->sizeHint().width()));
    top->insertWidget(2, cursors->button());
    cursors->label()->setStyleSheet(QStringLiteral("QLabel{font-family:Quicksand;}"));
    cursors->label()->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    concLayout->addWidget(cursors->label());

    auto* enviroBox = new QWidget(splitter);
    auto* enviroLayout = new QVBoxLayout(enviroBox);
    enviroLayout->setContentsMargins(0, 0, 0, 0);
    auto* legend = new QHBoxLayout;
    for (const runplots::EnviroCurve& curve : runplots::kEnviroCurves)
        legend->addWidget(colouredLabel(QLatin1String(curve.name), curve.colour, enviroBox));
    legend->addStretch(1);
    enviroLayout->addLayout(legend);
    plotEnviro = new LumoCustomPlot(enviroBox);
    plotEnviro->setObjectName(QStringLiteral("plot_enviro"));
    plotEnviro->setMinimumHeight(140);
    enviroLayout->addWidget(plotEnviro, 1);

    auto* pages = new QTabWidget(splitter);
    tableRows = new QTableView(pages);
    tableRows->setObjectName(QStringLiteral("tableView_rows"));
    model = new RunTableModel(&run.table, QDir(run.directory).filePath(QStringLiteral("vqsData.csv")), this);
    tableRows->setModel(model);
    // A header section per row would cost memory at a million rows; the
    // Cycle and Time columns say where a row is.
    tableRows->verticalHeader()->hide();
    tableRows->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    pages->addTab(tableRows, QStringLiteral("Rows"));
    textTimeLog = new QPlainTextEdit(timeLogText(run), pages);
    textTimeLog->setObjectName(QStringLiteral("plainTextEdit_timeLog"));
    textTimeLog->setReadOnly(true);
    pages->addTab(textTimeLog, QStringLiteral("Time Log"));
    textNotes = new QPlainTextEdit(run.notes.isEmpty() ? QStringLiteral("(no test notes)") : run.notes, pages);
    textNotes->setObjectName(QStringLiteral("plainTextEdit_notes"));
    textNotes->setReadOnly(true);
    pages->addTab(textNotes, QStringLiteral("Test Notes"));
    // The response times after each gas mark, as analysis.txt gives them; shown first when there are any.
    const QList<StepResponse> steps = analyseSteps(run.table.seconds, run.table.concentration, gasMarksOf(run));
    textResponse = new QPlainTextEdit(
        responseText(steps, QLatin1String(presentation::runUnitName(run.table.runUnit()))), pages);
    textResponse->setObjectName(QStringLiteral("plainTextEdit_response"));
    textResponse->setReadOnly(true);
    pages->addTab(textResponse, QStringLiteral("Response Times"));
    if (!steps.isEmpty())
        pages->setCurrentWidget(textResponse);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 3);
    splitter->setStretchFactor(2, 2);

    // Exactly the page's plots, then this run in them.
    plotConc->setAttribute(Qt::WA_OpaquePaintEvent);
    plotEnviro->setAttribute(Qt::WA_OpaquePaintEvent);
    runplots::setUpConcPlot(plotConc);
    runplots::setUpEnviroPlot(plotEnviro);
    runfigure::drawRun(plotConc, plotEnviro, run);
    runfigure::markEvents(plotConc, run);
    runfigure::markEvents(plotEnviro, run);
    showProblems();
    plotConc->replot(QCustomPlot::rpQueuedReplot);
    plotEnviro->replot(QCustomPlot::rpQueuedReplot);

    // A double click gives back the ranges the run opened with, events and all.
    for (LumoCustomPlot* plot : {plotConc, plotEnviro})
        connect(plot, &QCustomPlot::mouseDoubleClick, this, [this] {
            runfigure::followRuns(plotConc, plotEnviro, *runs.front());
            plotConc->replot();
            plotEnviro->replot();
        });
    connect(addRunButton, &QPushButton::clicked, this, &RunViewTab::onAddRunClicked);
    connect(savePicturesButton, &QPushButton::clicked, this, &RunViewTab::onSavePicturesClicked);
}

RunViewTab::~RunViewTab() = default;

QString RunViewTab::title() const {
    return runs.front()->title();
}

bool RunViewTab::addRun(const QString& directory) {
    auto run = std::make_unique<Run>(readRun(directory));
    if (!run->nothingToShow.isEmpty()) {
        showRunProblem(this, QStringLiteral("Nothing to Show"), run->nothingToShow);
        return false;
    }
    runfigure::addComparedRun(plotConc, *runs.front(), *run);
    const QString mismatch = runfigure::unitMismatch(*runs.front(), *run);
    if (!mismatch.isEmpty())
        run->problems << mismatch;
    runs.push_back(std::move(run));
    showProblems();
    plotConc->userControlled = false;
    plotConc->replot();
    return true;
}

bool RunViewTab::savePictures(const QString& directory) {
    if (runplots::writePictures(plotConc, plotEnviro, directory)) {
        emit picturesSaved(directory);
        return true;
    }
    showRunProblem(this, QStringLiteral("Pictures Not Saved"),
                   QStringLiteral("Could not write the pictures into %1").arg(directory));
    return false;
}

void RunViewTab::onAddRunClicked() {
    const QString directory = chooseDirectory(QStringLiteral("Please choose a run directory to compare"));
    if (!directory.isEmpty())
        addRun(directory);
}

void RunViewTab::onSavePicturesClicked() {
    const QString directory = chooseDirectory(QStringLiteral("Please choose a directory to save pictures"));
    if (!directory.isEmpty())
        savePictures(directory);
}

void RunViewTab::showProblems() {
    QStringList lines;
    for (const auto& run : runs)
        for (const QString& problem : run->problems)
            lines << (runs.size() > 1 ? run->title() + QStringLiteral(": ") + problem : problem);
    labelProblems->setText(lines.join('\n'));
    labelProblems->setVisible(!lines.isEmpty());
}
