#include "pageanalysis.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

#include "analysisreport.h"
#include "gasmarks.h"
#include "runsession.h"
#include "sample.h"
#include "statscursors.h"

namespace {

// The steps shown on the page: the one under way and the one before it.
constexpr int kStepsShown = 2;

// Under the plot, which keeps its own minimum height: on a short screen the
// bar gives way instead of making the window taller than the screen.
class GivingBar : public QWidget {
public:
    using QWidget::QWidget;
    QSize minimumSizeHint() const override { return QSize(QWidget::minimumSizeHint().width(), 0); }
};

}  // namespace

PageAnalysis::PageAnalysis(QWidget* page, QCustomPlot* plot, QGridLayout* grid, int row, int column,
                           RunSession* runSession)
    : QObject(page), session(runSession) {
    setObjectName(QStringLiteral("pageAnalysis"));
    auto* bar = new GivingBar(page);
    bar->setObjectName(QStringLiteral("widget_analysis"));
    auto* layout = new QGridLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(10);
    layout->setVerticalSpacing(2);

    statsCursors = new StatsCursors(plot, bar);
    QPushButton* toggle = statsCursors->button();
    // The page's buttons look alike checked or not; this one says which.
    toggle->setStyleSheet(QStringLiteral("QPushButton{padding:2px 10px;}QPushButton:checked{background-color:#1F3D5A;}"));
    statsCursors->setSource([this](double from, double to) {
        return statsBetween(live.seconds(), live.values(), from, to, true);
    });

    label = new QLabel(bar);
    label->setObjectName(QStringLiteral("label_response"));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->hide();  // until the first gas mark
    for (QLabel* text : {label, statsCursors->label()}) {
        // Long lines give way rather than widen the page; the tooltip has them whole.
        text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        text->setMinimumWidth(0);
    }
    layout->addWidget(toggle, 0, 0, Qt::AlignTop);
    layout->addWidget(label, 0, 1);
    layout->addWidget(statsCursors->label(), 1, 0, 1, 2);
    layout->setColumnStretch(1, 1);
    grid->addWidget(bar, row, column);

    connect(session, &RunSession::sampleArrived, page, [this](const Sample& sample) { onSample(sample); });
    connect(session, &RunSession::markMade, page, [this](double, const QString& event) { onMark(event); });
    connect(session, &RunSession::runEnded, page, [this] { onRunEnded(); });
}

void PageAnalysis::clear() {
    live.clear();
    cursorsTakenAt = 0;
    cursorsStale = false;
    showResponse();
    statsCursors->refresh();
}

void PageAnalysis::setSettings(const ResponseSettings& settings) {
    live.setSettings(settings);
    showResponse();
}

QString PageAnalysis::latest() const {
    return live.steps().isEmpty() ? QString() : live.summary(live.steps().size() - 1, false);
}

void PageAnalysis::onSample(const Sample& sample) {
    if (!sample.recorded())
        return;
    // The row's own time, so that the page's results are those of the saved run.
    const double t = session->lastTime();
    live.addReading(t, sample.answer.concentration);
    showResponse();

    if (!statsCursors->isShown())
        return;
    statsCursors->setUnit(RunSession::unitText(session->unitCode()));
    const double from = std::min(statsCursors->position(0), statsCursors->position(1));
    const double to = std::max(statsCursors->position(0), statsCursors->position(1));
    if (t >= from && t <= to)
        cursorsStale = true;
    // A long interval is summed again at most once a second of the run.
    if (cursorsStale && (t - cursorsTakenAt >= LiveResponse::kMinInterval || t > to)) {
        statsCursors->refresh();
        cursorsTakenAt = t;
        cursorsStale = false;
    }
}

void PageAnalysis::onMark(const QString& event) {
    GasMark mark;
    if (!parseGasMark(event, &mark))
        return;
    live.addMark(mark);
    showResponse();
}

void PageAnalysis::onRunEnded() {
    live.finish();
    showResponse();
    statsCursors->refresh();
}

void PageAnalysis::showResponse() {
    live.update();
    const QList<StepResponse>& steps = live.steps();
    QStringList lines;
    for (int i = std::max(0, int(steps.size()) - kStepsShown); i < steps.size(); ++i)
        lines << live.summary(i);
    const QString text = lines.join(QLatin1Char('\n'));
    if (label->text() != text) {
        label->setText(text);
        label->setToolTip(steps.isEmpty() ? QString()
                                          : responseText(steps, RunSession::unitText(session->unitCode())).trimmed());
    }
    label->setVisible(!steps.isEmpty());
    const QString now = latest();
    if (now != shownLatest) {
        shownLatest = now;
        emit responseChanged(now);
    }
}
