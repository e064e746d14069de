#include "ui/chart/chart_view.h"

#include "ui/chart/chart_painter.h"
#include "ui/common/qt_ui_port.h"
#include "ui/common/twips.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace tesmo::ui {

ChartView::ChartView(const chart::ChartModel &model, QWidget *parent)
    : QWidget(parent), m_model(model) {
    setAutoFillBackground(true);
}

double ChartView::twipsPerPixel() const {
    return ui::twipsPerPixel(*this);
}

const chart::Element *ChartView::squareAt(const QPoint &pos) const {
    const double tpp = twipsPerPixel();
    return m_model.elements().squareAt(pos.x() * tpp, pos.y() * tpp, tpp);
}

bool ChartView::event(QEvent *e) {
    if (e->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(e);
        const chart::Element *sq = squareAt(help->pos());
        if (sq && !sq->hover.empty()) {
            QToolTip::showText(help->globalPos(), qs(sq->hover), this);
        } else {
            QToolTip::hideText();
            e->ignore();
        }
        return true;
    }
    return QWidget::event(e);
}

void ChartView::paintEvent(QPaintEvent *) {
    QPainter p(this);
    paintChart(p, m_model.elements(), twipsPerPixel());
}

void ChartView::mousePressEvent(QMouseEvent *e) {
    m_pressed = e->button() == Qt::LeftButton ? squareAt(e->pos()) : nullptr;
    QWidget::mousePressEvent(e);
}

// A click is a press and a release on the same square, as for any button.
void ChartView::mouseReleaseEvent(QMouseEvent *e) {
    const chart::Element *sq = e->button() == Qt::LeftButton ? squareAt(e->pos()) : nullptr;
    if (sq && sq == m_pressed)
        emit squareClicked(qs(sq->hover));
    m_pressed = nullptr;
    QWidget::mouseReleaseEvent(e);
}

} // namespace tesmo::ui
