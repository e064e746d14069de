#include "core/chart/chart_style.h"

#include "core/common/text.h"
#include "core/storage/settings_keys.h"

#include <algorithm>

namespace tesmo::chart {

namespace {

std::string withoutBlanks(const std::string &s) {
    std::string out;
    for (const char c : s)
        if (c != ' ' && c != '\t')
            out += c;
    return out;
}

} // namespace

std::optional<std::vector<int>> parseMovingAverages(const std::string &text) {
    // Full-width digits and commas and the Japanese comma are what an input method types.
    std::string t = halfWidthAscii(text);
    replaceAll(t, "、", ",");
    t = withoutBlanks(t);
    std::vector<int> days;
    if (t.empty())
        return days;
    for (const std::string &piece : splitText(t, ",")) {
        if (piece.empty() || piece.size() > 3 ||
            piece.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const int n = std::stoi(piece);
        if (n < kMinAverageDays || n > kMaxAverageDays)
            return std::nullopt;
        days.push_back(n);
    }
    std::sort(days.begin(), days.end());
    days.erase(std::unique(days.begin(), days.end()), days.end());
    if (days.size() > kMaxMovingAverages)
        return std::nullopt;
    return days;
}

std::string movingAveragesText(const std::vector<int> &days) {
    std::string out;
    for (const int d : days)
        out += (out.empty() ? "" : ",") + std::to_string(d);
    return out;
}

std::string movingAveragesHint() {
    return "移動平均の日数は2～500の数をカンマで区切って4つまで指定してください(例: 5,25,75)。";
}

std::optional<ChartStyle> chartStyleNamed(const std::string &name) {
    if (name == "line")
        return ChartStyle::Line;
    if (name == "candle")
        return ChartStyle::Candle;
    return std::nullopt;
}

const char *chartStyleName(ChartStyle style) {
    return style == ChartStyle::Candle ? "candle" : "line";
}

std::optional<CandleColors> candleColorsNamed(const std::string &name) {
    if (name == "color")
        return CandleColors::Color;
    if (name == "print")
        return CandleColors::Print;
    return std::nullopt;
}

const char *candleColorsName(CandleColors colors) {
    return colors == CandleColors::Print ? "print" : "color";
}

ChartPreferences loadChartPreferences() {
    namespace keys = storage::keys;
    ChartPreferences p;
    p.style = chartStyleNamed(storage::readSetting(keys::form2_style))
                  .value_or(storage::jquantsSource() ? ChartStyle::Candle : ChartStyle::Line);
    p.movingAverages =
        parseMovingAverages(storage::readSetting(keys::form2_ma)).value_or(kDefaultMovingAverages);
    p.colors = candleColorsNamed(storage::readSetting(keys::form2_candlecolor))
                   .value_or(CandleColors::Color);
    return p;
}

void saveChartPreferences(const ChartPreferences &p) {
    namespace keys = storage::keys;
    storage::writeSetting(keys::form2_style, chartStyleName(p.style));
    saveCandlePreferences(p);
}

void saveCandlePreferences(const ChartPreferences &p) {
    namespace keys = storage::keys;
    storage::writeSetting(keys::form2_ma, movingAveragesText(p.movingAverages));
    storage::writeSetting(keys::form2_candlecolor, candleColorsName(p.colors));
}

} // namespace tesmo::chart
