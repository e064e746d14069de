#include "ui/chart/chart_painter.h"

#include <QPaintDevice>
#include <QPen>

namespace tesmo::ui {
namespace {

QColor qcolor(const chart::Rgb &c) {
    return QColor(c.r, c.g, c.b);
}

QStringList japaneseFamilies() {
    return {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
            QStringLiteral("IPA Pゴシック"), QStringLiteral("Noto Sans CJK JP"),
            QStringLiteral("Droid Sans Fallback")};
}

} // namespace

QFont chartLabelFont() {
    QFont f;
    f.setFamilies(japaneseFamilies());
    f.setPointSizeF(8.25);
    return f;
}

QFont chartWindowFont() {
    QFont f;
    f.setFamilies(japaneseFamilies());
    f.setPointSizeF(9);
    return f;
}

void paintChart(QPainter &p, const chart::ChartElements &elements, double tpp) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setFont(chartLabelFont());
    const auto box = [tpp](const chart::Element &e) {
        return QRectF(e.left / tpp, e.top / tpp, e.width / tpp, e.height / tpp);
    };
    for (const chart::Element *e : elements.paintOrder()) {
        const QColor c = qcolor(e->color);
        switch (e->kind) {
        case chart::ElementKind::Area:
            p.setPen(QPen(QColor(0, 0, 0), 0));
            p.setBrush(c);
            p.drawRect(box(*e));
            break;
        case chart::ElementKind::Line:
            p.setPen(QPen(c, 0));
            p.drawLine(QPointF(e->x1 / tpp, e->y1 / tpp), QPointF(e->x2 / tpp, e->y2 / tpp));
            break;
        case chart::ElementKind::Square:
            p.setPen(QPen(c, 0));
            p.setBrush(c);
            p.drawRect(box(*e));
            break;
        case chart::ElementKind::Bar:
            p.setPen(QPen(qcolor(e->edge), 0));
            p.setBrush(c);
            p.drawRect(box(*e));
            break;
        case chart::ElementKind::Candle: {
            const QPen edge(qcolor(e->edge), 0);
            p.setPen(edge);
            if (e->y1 != e->y2)
                p.drawLine(QPointF(e->x1 / tpp, e->y1 / tpp), QPointF(e->x2 / tpp, e->y2 / tpp));
            const QRectF body = box(*e);
            // A doji and a close alone are a line across the body's width; a body of less than a
            // pixel would vanish between two rows of pixels, so it is never drawn thinner.
            if (e->candle == chart::CandleKind::Doji || e->candle == chart::CandleKind::CloseOnly) {
                p.drawLine(body.topLeft(), body.topRight());
            } else {
                p.setBrush(c);
                p.drawRect(body.height() < 1 ? QRectF(body.left(), body.top(), body.width(), 1)
                                             : body);
            }
            break;
        }
        case chart::ElementKind::Label: {
            p.setPen(c);
            const Qt::Alignment h =
                e->align == chart::TextAlign::Right ? Qt::AlignRight : Qt::AlignLeft;
            p.drawText(box(*e), static_cast<int>(h | Qt::AlignTop | Qt::TextDontClip),
                       QString::fromUtf8(e->text.c_str()));
            break;
        }
        }
    }
    p.restore();
}

} // namespace tesmo::ui
