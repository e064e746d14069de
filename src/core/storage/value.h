#pragma once
// One field of a result set: null, a whole number, a double or a text (UTF-8).
#include <cstdint>
#include <string>
#include <variant>

namespace tesmo::storage {

class Value {
public:
    enum class Type { Null, Integer, Real, Text };

    Value() = default;
    Value(std::int64_t v) : m_v(v) {}
    Value(int v) : m_v(static_cast<std::int64_t>(v)) {}
    Value(double v) : m_v(v) {}
    Value(std::string v) : m_v(std::move(v)) {}
    Value(const char *v) : m_v(std::string(v)) {}

    Type type() const { return static_cast<Type>(m_v.index()); }
    bool isNull() const { return type() == Type::Null; }

    // The conversions raise DbError on null, as a null used where a number is required does.
    std::int64_t toInt() const;
    double toDouble() const;
    // Plain decimal form for numbers ("." as decimal point, no exponent for ordinary values).
    std::string toText() const;
    // toText(), or `ifNull` for a null.
    std::string textOr(const std::string &ifNull) const { return isNull() ? ifNull : toText(); }

    bool operator==(const Value &o) const = default;

private:
    std::variant<std::monostate, std::int64_t, double, std::string> m_v;
};

// A double's default text form: at most 15 significant digits (224496.551724138, not the
// 17 that would read back bit for bit), "." as decimal point, no exponent for magnitudes from
// 0.00001 up to 10^15, whole numbers without a point.
inline constexpr int kSignificant = 15;
std::string formatDouble(double v);

} // namespace tesmo::storage
