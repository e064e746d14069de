#pragma once
// Paints the chart's element list with QtGui only, so that a window and an offscreen image
// (tesmoctl chart) show the same picture.
#include "core/chart/chart_elements.h"

#include <QFont>
#include <QPainter>

namespace tesmo::ui {

// The axis labels' font: "ＭＳ Ｐゴシック" 8.25 pt, or the installed Japanese font.
QFont chartLabelFont();
// The font of the chart window's controls.
QFont chartWindowFont();

// Draws the visible elements back to front; element coordinates are twips of the client area.
void paintChart(QPainter &p, const chart::ChartElements &elements, double twipsPerPixel);

} // namespace tesmo::ui
