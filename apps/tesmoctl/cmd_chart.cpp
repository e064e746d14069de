// chart: the chart window's drawing pass rendered into a PNG, without a display.
#include "commands.h"

#include "core/chart/chart_model.h"
#include "core/storage/connection.h"
#include "ui/chart/chart_painter.h"
#include "ui/common/twips.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>

#include <cstdio>
#include <cstdlib>

namespace tesmoctl {
namespace {

const Command &chartCommand() {
    for (const auto &c : commands())
        if (std::string(c.name) == "chart")
            return c;
    return commands().front();
}

bool parseSize(const std::string &text, int &w, int &h) {
    char *end = nullptr;
    const long a = std::strtol(text.c_str(), &end, 10);
    if (!end || (*end != 'x' && *end != 'X'))
        return false;
    const char *rest = end + 1;
    const long b = std::strtol(rest, &end, 10);
    if (end == rest || *end != '\0' || a < 100 || b < 100 || a > 10000 || b > 10000)
        return false;
    w = static_cast<int>(a);
    h = static_cast<int>(b);
    return true;
}

} // namespace

int cmdChart(const Args &args) {
    std::vector<std::string> positional;
    std::string png;
    int width = 582; // the default chart window (8730 x 6135 twips) at 96 dpi
    int height = 409;
    auto mode = tesmo::chart::ChartMode::Volume;
    tesmo::chart::ChartPreferences look = tesmo::chart::loadChartPreferences();
    bool marker = true;
    std::int32_t portPrice = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--topic") {
            mode = tesmo::chart::ChartMode::Topic;
        } else if (a == "--style" && hasValue) {
            const auto style = tesmo::chart::chartStyleNamed(args[++i]);
            if (!style)
                return fail("--style wants line or candle");
            look.style = *style;
        } else if (a == "--ma" && hasValue) {
            const auto days = tesmo::chart::parseMovingAverages(args[++i]);
            if (!days)
                return fail(tesmo::chart::movingAveragesHint());
            look.movingAverages = *days;
        } else if (a == "--colors" && hasValue) {
            const auto colors = tesmo::chart::candleColorsNamed(args[++i]);
            if (!colors)
                return fail("--colors wants color or print");
            look.colors = *colors;
        } else if (a == "--no-markers") {
            marker = false;
        } else if (a == "--port-price" && hasValue) {
            portPrice = static_cast<std::int32_t>(std::strtol(args[++i].c_str(), nullptr, 10));
        } else if (a == "--png" && hasValue) {
            png = args[++i];
        } else if (a == "--size" && hasValue) {
            if (!parseSize(args[++i], width, height))
                return fail("--size wants WxH in pixels, 100 to 10000 each");
        } else if (a.rfind("--", 0) == 0) {
            return usageError(chartCommand());
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2 || png.empty())
        return usageError(chartCommand());
    tesmo::storage::provideDefaultDatabase(positional[0]);
    tesmo::chart::ChartModel model(positional[0]);
    model.code = positional[1];
    model.mode = mode;
    model.style = look.style;
    model.movingAverages = look.movingAverages;
    model.candleColors = look.colors;
    model.marker = marker;
    model.port_price = portPrice;

    // Fonts and text layout need a GUI application; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "tesmoctl";
    char *argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    QImage image(width, height, QImage::Format_RGB32);
    // 96 dpi: 15 twips to the pixel, as on the usual screen.
    image.setDotsPerMeterX(3780);
    image.setDotsPerMeterY(3780);
    image.fill(QGuiApplication::palette().color(QPalette::Window));
    const double tpp = tesmo::ui::twipsPerPixel(image);
    model.setClientSize(width * tpp, height * tpp);
    const std::string failure = model.make_graph();
    {
        QPainter p(&image);
        tesmo::ui::paintChart(p, model.elements(), tpp);
    }
    if (!image.save(QString::fromStdString(png), "PNG"))
        return fail("cannot write " + png);
    std::printf("%s\n", model.caption().c_str());
    if (!failure.empty()) {
        std::string text = failure;
        for (size_t pos; (pos = text.find("\r\n")) != std::string::npos;)
            text.replace(pos, 2, "\n");
        return fail(text);
    }
    return 0;
}

} // namespace tesmoctl
