#include "ui/tables/result_set_model.h"

#include "ui/common/qt_ui_port.h"

#include <QColor>

namespace tesmo::ui {

ResultSetModel::ResultSetModel(storage::DataSource &source, const tables::GridColumns &columns,
                               QObject *parent)
    : QAbstractTableModel(parent), m_source(source), m_columns(columns) {}

void ResultSetModel::reload() {
    beginResetModel();
    m_fieldIndex.clear();
    for (const tables::GridColumn &c : m_columns)
        m_fieldIndex.push_back(m_source.rows().fieldIndex(c.field));
    endResetModel();
}

void ResultSetModel::captionsChanged() {
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void ResultSetModel::setAllowAddNew(bool on) {
    beginResetModel();
    m_addNew = on;
    m_pending.clear();
    endResetModel();
}

void ResultSetModel::clearPendingRow() {
    m_pending.clear();
    if (m_addNew)
        emit dataChanged(index(dataRowCount(), 0), index(dataRowCount(), columnCount() - 1));
}

void ResultSetModel::setPending(int column, const QString &text) {
    m_pending[column] = text;
}

storage::Value ResultSetModel::value(int row, const std::string &field) const {
    const storage::ResultSet &rs = m_source.rows();
    const int f = rs.fieldIndex(field);
    if (row < 0 || row >= dataRowCount() || f < 0)
        return {};
    return rs.at(static_cast<size_t>(row), f);
}

QString ResultSetModel::text(int row, int column) const {
    if (row == dataRowCount()) {
        auto it = m_pending.find(column);
        return it == m_pending.end() ? QString() : it->second;
    }
    if (row < 0 || row > dataRowCount() || column < 0 ||
        column >= static_cast<int>(m_fieldIndex.size()) || m_fieldIndex[column] < 0)
        return {};
    const storage::Value &v = m_source.rows().at(static_cast<size_t>(row), m_fieldIndex[column]);
    return v.isNull() ? QString() : qs(v.toText());
}

QString ResultSetModel::displayText(int row, int column) const {
    if (row < 0 || row >= dataRowCount() || column < 0 ||
        column >= static_cast<int>(m_fieldIndex.size()) || m_fieldIndex[column] < 0)
        return text(row, column);
    const storage::Value &v = m_source.rows().at(static_cast<size_t>(row), m_fieldIndex[column]);
    return qs(tables::gridText(v, m_columns.at(static_cast<size_t>(column)).form));
}

void ResultSetModel::setRowMarks(int codeColumn, std::map<QString, QString> tips) {
    m_markColumn = codeColumn;
    m_marks = std::move(tips);
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1),
                         {Qt::BackgroundRole, Qt::ToolTipRole});
}

bool ResultSetModel::rowMarked(int row) const {
    return row < dataRowCount() && m_marks.count(text(row, m_markColumn)) != 0;
}

int ResultSetModel::rowCount(const QModelIndex &parent) const {
    if (parent.isValid())
        return 0;
    return dataRowCount() + (m_addNew ? 1 : 0);
}

int ResultSetModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant ResultSetModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return displayText(index.row(), index.column());
    case Qt::EditRole:
        return text(index.row(), index.column());
    case Qt::BackgroundRole:
        return rowMarked(index.row()) ? QVariant(QColor(kMatchedRowBack)) : QVariant();
    case Qt::ToolTipRole: {
        if (!rowMarked(index.row()))
            return {};
        return m_marks.at(text(index.row(), m_markColumn));
    }
    case Qt::TextAlignmentRole:
        switch (m_columns.at(static_cast<size_t>(index.column())).align) {
        case tables::Align::Right:
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        case tables::Align::Centre:
            return QVariant::fromValue(Qt::AlignHCenter | Qt::AlignVCenter);
        case tables::Align::General:
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        }
        return {};
    default:
        return {};
    }
}

QVariant ResultSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columnCount())
            return {};
        return qs(m_columns.at(static_cast<size_t>(section)).caption);
    }
    // The new row is marked like the data-bound grid marks it.
    return m_addNew && section == dataRowCount() ? QStringLiteral("*") : QString();
}

Qt::ItemFlags ResultSetModel::flags(const QModelIndex &index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && !m_readOnly && m_editor &&
        m_columns.at(static_cast<size_t>(index.column())).editable)
        f |= Qt::ItemIsEditable;
    return f;
}

bool ResultSetModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (!index.isValid() || role != Qt::EditRole || !m_editor || m_readOnly)
        return false;
    const QString typed = value.toString();
    if (typed == text(index.row(), index.column()))
        return false;
    const int row = index.row() == dataRowCount() ? -1 : index.row();
    const QString error = m_editor(row, index.column(), typed);
    if (!error.isEmpty()) {
        emit editRefused(error);
        return false;
    }
    return true;
}

} // namespace tesmo::ui
