// The page's plotting widget: QCustomPlot with a dark default look, mouse
// zooming, and a flag telling the page whether the user has taken over the axes.
#pragma once

#include <qcustomplot.h>

class LumoCustomPlot : public QCustomPlot {
    Q_OBJECT

public:
    explicit LumoCustomPlot(QWidget* parent = nullptr);

    // True while the user, not the page, controls the axis ranges.
    bool userControlled = false;

    // replot(priority) while the plot can be seen; a hidden plot (a page in
    // another tab) replots once, when it is shown again.
    void replotShown(RefreshPriority priority);

protected:
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    bool replotWhenShown = false;
};
