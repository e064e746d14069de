#pragma once
// Windows open whole on the screen they appear on: a size or position saved on a larger
// screen, or a place the window manager picked near the bottom, would leave part of a window
// (and its buttons) out of reach.
#include <QMargins>
#include <QRect>

class QWidget;

namespace tesmo::ui {

// The client rectangle moved, and made smaller where it cannot fit, so that the window with
// its frame lies inside `available` (the screen's work area, without panels).
QRect fitClientRect(const QRect &client, const QMargins &frame, const QRect &available);

// Keeps `w` whole on its screen every time it is shown: its size before it appears (and its
// position when the program chose one), then its place once the window manager has framed and
// placed it. Calling it again for the same window does nothing more.
void keepOnScreen(QWidget *w);

// Fits `w` now, with its frame as far as it is known.
void fitOnScreen(QWidget *w);

// Before `w` is shown: a window that the program placed is fitted whole; one that the window
// manager will place only gets a size that fits, so that the manager can find it a place.
void fitBeforeShow(QWidget *w);

} // namespace tesmo::ui
