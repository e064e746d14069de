// The rows that a statement gave: read in full (ResultSet) or seen where the engine keeps them
// (RowView).
#include "core/storage/database.h"

#include "core/common/text.h"

#include <sqlite3.h>

namespace tesmo::storage {

int ResultSet::fieldIndex(const std::string &name) const {
    for (size_t i = 0; i < m_names.size(); ++i)
        if (equalsIgnoringAsciiCase(m_names[i], name))
            return static_cast<int>(i);
    return -1;
}

const Value &ResultSet::field(int col) const {
    if (eof())
        throw DbError("カレント レコードがありません。");
    return at(m_pos, col);
}

const Value &ResultSet::field(const std::string &name) const {
    const int col = fieldIndex(name);
    if (col < 0)
        throw DbError("この項目はコレクションにありません: " + name);
    return field(col);
}

const Value &ResultSet::at(size_t row, int col) const {
    if (row >= m_rows.size() || col < 0 || static_cast<size_t>(col) >= m_names.size())
        throw DbError("行または列の番号が範囲外です。");
    return m_rows[row][static_cast<size_t>(col)];
}

std::vector<std::vector<Value>> ResultSet::getRows(size_t maxRows) {
    std::vector<std::vector<Value>> out(m_names.size());
    while (!eof() && maxRows-- > 0) {
        for (size_t c = 0; c < m_names.size(); ++c)
            out[c].push_back(m_rows[m_pos][c]);
        ++m_pos;
    }
    return out;
}

int RowView::size() const {
    return sqlite3_column_count(m_stmt);
}

Value::Type RowView::type(int col) const {
    switch (sqlite3_column_type(m_stmt, col)) {
    case SQLITE_INTEGER:
        return Value::Type::Integer;
    case SQLITE_FLOAT:
        return Value::Type::Real;
    case SQLITE_NULL:
        return Value::Type::Null;
    default:
        return Value::Type::Text;
    }
}

std::int64_t RowView::integer(int col) const {
    return sqlite3_column_int64(m_stmt, col);
}

double RowView::real(int col) const {
    return sqlite3_column_double(m_stmt, col);
}

std::string_view RowView::text(int col) const {
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, col));
    return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(m_stmt, col)))
             : std::string_view();
}

Value RowView::value(int col) const {
    switch (type(col)) {
    case Value::Type::Integer:
        return Value(integer(col));
    case Value::Type::Real:
        return Value(real(col));
    case Value::Type::Null:
        return {};
    case Value::Type::Text:
        break;
    }
    return Value(std::string(text(col)));
}

} // namespace tesmo::storage
