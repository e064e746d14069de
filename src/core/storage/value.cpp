#include "storage/value.h"

#include "storage/db_error.h"

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
    char buf[64];
    const double a = std::fabs(v);
    auto fmt = (a >= 1e-5 && a < 1e15) ? std::chars_format::fixed : std::chars_format::general;
    auto r = std::to_chars(buf, buf + sizeof buf, v, fmt);
    return std::string(buf, r.ptr);
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
