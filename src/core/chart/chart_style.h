#pragma once
// How the chart draws a stock: the line chart of closes with the monthly averages, or the
// candlestick chart (ローソク足) with moving averages of the close and the volumes as bars
// under the prices; and the choices that the chart window remembers in the settings.
#include <optional>
#include <string>
#include <vector>

namespace tesmo::chart {

enum class ChartStyle { Line, Candle };

// 陽線 red and 陰線 blue, as many Japanese tools draw them on white, or the classic print style
// of 陽線 white with a black outline and 陰線 black.
enum class CandleColors { Color, Print };

// Days of the moving averages of the candlestick chart: at most four averages of 2 to 500 days.
inline constexpr size_t kMaxMovingAverages = 4;
inline constexpr int kMinAverageDays = 2;
inline constexpr int kMaxAverageDays = 500;
inline const std::vector<int> kDefaultMovingAverages = {5, 25, 75};

// "5,25,75" (blanks, full-width digits and the Japanese comma "、" allowed) as the days of each
// average, ascending and each once; the empty text gives none. nullopt for anything else: a
// word, a count outside 2 to 500, more than four averages.
std::optional<std::vector<int>> parseMovingAverages(const std::string &text);
// The days as the settings keep them: "5,25,75".
std::string movingAveragesText(const std::vector<int> &days);
// What the user is told when parseMovingAverages refuses a text.
std::string movingAveragesHint();

// "line", "candle"; nullopt for other names.
std::optional<ChartStyle> chartStyleNamed(const std::string &name);
const char *chartStyleName(ChartStyle style);
std::optional<CandleColors> candleColorsNamed(const std::string &name);
const char *candleColorsName(CandleColors colors);

struct ChartPreferences {
    ChartStyle style = ChartStyle::Line;
    std::vector<int> movingAverages = kDefaultMovingAverages;
    CandleColors colors = CandleColors::Color;
};
// The choices of the settings (form2_style, form2_ma, form2_candlecolor). An unset style is the
// candlestick chart while J-Quants is the source and the line chart while the data site is; a
// value that cannot be read counts as unset.
ChartPreferences loadChartPreferences();
void saveChartPreferences(const ChartPreferences &preferences);
// The averages and the colours alone: a style that the user never chose keeps following the
// source.
void saveCandlePreferences(const ChartPreferences &preferences);

} // namespace tesmo::chart
