#pragma once
// The scale unit of a chart axis: a start and a step of 1, 2 or 5 times a power of ten that
// cut a value range into about five to fifteen steps.
#include <stdexcept>
#include <string>

namespace tesmo::chart {

// Arithmetic failures of the chart's computations; what() is the description that ends up in
// the failure texts.
class ChartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
inline constexpr const char *kDivisionByZero = "0 で除算しました。";
inline constexpr const char *kOverflow = "オーバーフローしました。";

// a / b, raising ChartError for a division by zero or a result that is not finite.
double divide(double a, double b);

// The nearest whole number, a half going to the even neighbour (R(4.5) = 4, R(15.5) = 16).
double roundHalfEven(double x);

// Reads min and max, writes start and unit. Returns the empty text on success, otherwise a
// failure text ("Make Unit parm=" min "-" max CR LF step "時のｴﾗｰ 詳細:" description), and
// start and unit carry no meaning.
std::string make_unit(double &min, double &max, double &start, double &unit);

} // namespace tesmo::chart
