#pragma once
// The grid's model: the rows of a data source's result set, shown through the window's
// column set (caption, field, alignment). The result set is read in one pass when the record
// source runs; the model only indexes into it.
#include "core/storage/data_source.h"
#include "core/tables/grid_columns.h"

#include <QAbstractTableModel>
#include <QColor>

#include <functional>
#include <map>
#include <vector>

namespace tesmo::ui {

class ResultSetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Applies an edit of a cell (row -1: the new row) and returns the error text to show, or
    // an empty text when it was written.
    using Editor = std::function<QString(int row, int column, const QString &text)>;

    ResultSetModel(storage::DataSource &source, const tables::GridColumns &columns,
                   QObject *parent = nullptr);

    // Re-reads field positions and row count after the data source has run its source.
    void reload();
    // Column captions changed (sort marks).
    void captionsChanged();

    void setEditor(Editor editor) { m_editor = std::move(editor); }
    // The grid shows an empty row after the last one that takes a new entry.
    void setAllowAddNew(bool on);
    bool allowAddNew() const { return m_addNew; }
    void setReadOnly(bool on) { m_readOnly = on; }
    bool readOnly() const { return m_readOnly; }

    int dataRowCount() const { return static_cast<int>(m_source.rows().rowCount()); }
    // The field of a data row by column name; null beyond the rows.
    storage::Value value(int row, const std::string &field) const;
    // What the cell shows: volumes and amounts grouped, ratios with four decimals.
    QString displayText(int row, int column) const;
    QString text(int row, int column) const;
    // Rows whose code (in `codeColumn`) is a key of `tips` get a clear background and that
    // key's text as their tooltip: the stocks that the watch rules selected.
    void setRowMarks(int codeColumn, std::map<QString, QString> tips);
    bool rowMarked(int row) const;
    // Values typed into the new row so far, by column.
    const std::map<int, QString> &pendingRow() const { return m_pending; }
    void clearPendingRow();
    void setPending(int column, const QString &text);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

signals:
    void editRefused(const QString &text);

private:
    storage::DataSource &m_source;
    const tables::GridColumns &m_columns;
    std::vector<int> m_fieldIndex; // result-set column of each grid column, -1 when absent
    Editor m_editor;
    bool m_addNew = false;
    bool m_readOnly = true;
    std::map<int, QString> m_pending;
    int m_markColumn = 0;
    std::map<QString, QString> m_marks;
};

// The background of a row that the watch rules selected.
inline constexpr QRgb kMatchedRowBack = 0xFFF0B0;

} // namespace tesmo::ui
