// Twips and pixels: one scale for every window, from the device's DPI with a sane fallback.
#include "ui/common/twips.h"

#include <QImage>
#include <QPaintDevice>

#include <gtest/gtest.h>

using namespace tesmo;

namespace {

// A device that reports the DPI it is given, also none at all.
class DpiDevice : public QPaintDevice {
public:
    DpiDevice(int dpiX, int dpiY) : m_dpiX(dpiX), m_dpiY(dpiY) {}
    QPaintEngine *paintEngine() const override { return nullptr; }

protected:
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
        case PdmDpiX:
        case PdmPhysicalDpiX:
            return m_dpiX;
        case PdmDpiY:
        case PdmPhysicalDpiY:
            return m_dpiY;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(devicePixelRatioFScale());
        default:
            return 100;
        }
    }

private:
    int m_dpiX, m_dpiY;
};

TEST(Twips, ScaleFollowsTheDeviceAndFallsBackTo96Dpi) {
    const struct {
        const char *what;
        int dpiX, dpiY;
        double twipsPerPixel;
        int pixelsOf2820Twips;
    } cases[] = {
        {"96 dpi", 96, 96, 15, 188},    {"144 dpi", 144, 144, 10, 282},
        {"120 dpi", 120, 120, 12, 235}, {"wider than high: the horizontal DPI", 144, 96, 10, 282},
        {"no DPI", 0, 0, 15, 188},      {"a negative DPI", -1, -1, 15, 188},
    };
    for (const auto &c : cases) {
        const DpiDevice device(c.dpiX, c.dpiY);
        EXPECT_DOUBLE_EQ(ui::twipsPerPixel(device), c.twipsPerPixel) << c.what;
        EXPECT_EQ(ui::twipsToPixels(device, 2820), c.pixelsOf2820Twips) << c.what;
    }
}

TEST(Twips, PixelsRoundToTheNearest) {
    const DpiDevice device(96, 96);
    EXPECT_EQ(ui::twipsToPixels(device, 22), 1);   // 1.47 pixels
    EXPECT_EQ(ui::twipsToPixels(device, 23), 2);   // 1.53 pixels
    EXPECT_EQ(ui::twipsToPixels(device, -23), -2); // a position left of the screen
}

TEST(Twips, AnImageTakesItsResolution) {
    QImage image(10, 10, QImage::Format_RGB32);
    image.setDotsPerMeterX(3780); // 96 dpi
    image.setDotsPerMeterY(3780);
    EXPECT_DOUBLE_EQ(ui::twipsPerPixel(image), 15);
    image.setDotsPerMeterX(7559); // 192 dpi
    EXPECT_DOUBLE_EQ(ui::twipsPerPixel(image), 7.5);
}

} // namespace
