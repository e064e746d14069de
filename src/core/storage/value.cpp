#include "core/storage/value.h"

#include "core/storage/db_error.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tesmo::storage {

std::string formatDouble(double v) {
    if (std::isnan(v))
        return "NaN";
    if (std::isinf(v))
        return v > 0 ? "Infinity" : "-Infinity";
    if (v == std::trunc(v) && std::fabs(v) < 1e15) {
        char buf[32];
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(v));
        return std::string(buf, r.ptr);
    }
    char buf[400];
    const double a = std::fabs(v);
    if (a < 1e-5 || a >= 1e15) {
        auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, kSignificant);
        return std::string(buf, r.ptr);
    }
    // The decimal exponent after rounding to 15 significant digits (9.9999999999999999 rounds
    // up to 10), so that the fixed form below keeps exactly those digits.
    auto e =
        std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, kSignificant - 1);
    const std::string sci(buf, e.ptr);
    const int exponent = std::atoi(sci.c_str() + sci.find('e') + 1);
    const int decimals = std::max(0, kSignificant - 1 - exponent);
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string out(buf, r.ptr);
    if (out.find('.') != std::string::npos) {
        out.erase(out.find_last_not_of('0') + 1);
        if (out.back() == '.')
            out.pop_back();
    }
    return out;
}

std::int64_t Value::toInt() const {
    switch (type()) {
    case Type::Null:
        throw DbError("Null の使い方が不正です。");
    case Type::Integer:
        return std::get<std::int64_t>(m_v);
    case Type::Real: {
        // Whole numbers round half to even, as every conversion of this program does.
        return static_cast<std::int64_t>(std::nearbyint(std::get<double>(m_v)));
    }
    case Type::Text: {
        const std::string &s = std::get<std::string>(m_v);
        char *end = nullptr;
        const double d = std::strtod(s.c_str(), &end);
        if (s.empty() || end == s.c_str())
            throw DbError("型が一致しません: '" + s + "'");
        return static_cast<std::int64_t>(std::nearbyint(d));
    }
    }
    return 0;
}

double Value::toDouble() const {
    switch (type()) {
    case Type::Null:
        throw DbError("Null の使い方が不正です。");
    case Type::Integer:
        return static_cast<double>(std::get<std::int64_t>(m_v));
    case Type::Real:
        return std::get<double>(m_v);
    case Type::Text: {
        const std::string &s = std::get<std::string>(m_v);
        char *end = nullptr;
        const double d = std::strtod(s.c_str(), &end);
        if (s.empty() || end == s.c_str())
            throw DbError("型が一致しません: '" + s + "'");
        return d;
    }
    }
    return 0;
}

std::string Value::toText() const {
    switch (type()) {
    case Type::Null:
        throw DbError("Null の使い方が不正です。");
    case Type::Integer:
        return std::to_string(std::get<std::int64_t>(m_v));
    case Type::Real:
        return formatDouble(std::get<double>(m_v));
    case Type::Text:
        return std::get<std::string>(m_v);
    }
    return {};
}

} // namespace tesmo::storage
