#pragma once
// Twips (1440 to the inch) are the unit of every designed control position and of the window
// sizes and places kept in the settings, so that they mean the same length on any screen.
// Every window converts through these routines, so that a size saved by one window is read
// back alike by another.

class QPaintDevice;

namespace tesmo::ui {

// Twips per pixel of `device`, from its logical horizontal DPI: 15 at 96 dpi. A device that
// reports no DPI (0 or less) counts as 96 dpi rather than giving a scale of nothing or of an
// inch per pixel.
double twipsPerPixel(const QPaintDevice &device);

// `twips` in whole pixels of `device`, rounded to the nearest.
int twipsToPixels(const QPaintDevice &device, double twips);

} // namespace tesmo::ui
