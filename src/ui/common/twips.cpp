#include "ui/common/twips.h"

#include <QPaintDevice>

#include <cmath>

namespace tesmo::ui {
namespace {
constexpr double kTwipsPerInch = 1440;
constexpr int kFallbackDpi = 96;
} // namespace

double twipsPerPixel(const QPaintDevice &device) {
    const int dpi = device.logicalDpiX();
    return kTwipsPerInch / (dpi > 0 ? dpi : kFallbackDpi);
}

int twipsToPixels(const QPaintDevice &device, double twips) {
    return static_cast<int>(std::lround(twips / twipsPerPixel(device)));
}

} // namespace tesmo::ui
