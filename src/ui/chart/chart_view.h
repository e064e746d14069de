#pragma once
// The chart window's drawing surface: paints the model's elements and reports the point
// square under the mouse (hover text as tooltip, click as a signal).
#include "core/chart/chart_model.h"

#include <QWidget>

namespace tesmo::ui {

class ChartView : public QWidget {
    Q_OBJECT
public:
    ChartView(const chart::ChartModel &model, QWidget *parent);

    double twipsPerPixel() const;
    // The visible square at a pixel position, with a pixel of slack for the small squares.
    const chart::Element *squareAt(const QPoint &pos) const;

signals:
    void squareClicked(const QString &hoverText);

protected:
    bool event(QEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;

private:
    const chart::ChartModel &m_model;
    const chart::Element *m_pressed = nullptr;
};

} // namespace tesmo::ui
