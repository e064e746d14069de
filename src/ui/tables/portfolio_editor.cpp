#include "ui/tables/portfolio_editor.h"

#include "core/common/app_state.h"
#include "core/tables/table_edits.h"
#include "ui/common/window_hub.h"
#include "ui/tables/portfolio_table.h"
#include "ui/tables/result_set_model.h"

#include <QKeyEvent>
#include <QTimer>

namespace tesmo::ui {
namespace keys = storage::keys;

PortfolioEditor::PortfolioEditor(QWidget *parent)
    : GridWindow(
          m_list.columns, "ﾎﾟｰﾄﾌｫﾘｵ ﾒﾝﾃﾅﾝｽ", "portfolio",
          GeometryKeys{keys::portm_height, keys::portm_width, keys::portm_top, keys::portm_left},
          keys::cnt_F_portM, parent),
      m_list("M_PORT") {
    setObjectName(QStringLiteral("PortfolioEditor"));
    bindGrid();
    tableButton = new QPushButton(QStringLiteral("ﾎﾟｰﾄﾌｫﾘｵ ﾃｰﾌﾞﾙ"), this);
    tableButton->setFixedSize(px(1900), Data1->height());
    connect(tableButton, &QPushButton::clicked, this,
            [] { WindowHub::instance().show(WindowKind::PortfolioTable); });
    m_navNarrowing = 1900;
    m_gridTop = 500;

    m_model->setReadOnly(false);
    m_model->setAllowAddNew(true);
    m_model->setEditor(
        [this](int row, int column, const QString &text) { return editCell(row, column, text); });
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);

    if (openDatabase()) {
        m_list = tables::PortList(portfolioView("M_PORT"));
        busyCommand([this] {
            m_list.open();
            runSource(m_list.fill());
        });
    }
    finishOpen(11000, 6000);
}

void PortfolioEditor::headerClick(int c) {
    busyCommand([this, c] { runSource(m_list.headerClick(c)); });
}

std::optional<double> PortfolioEditor::chartPrice(int row) const {
    return purchasePrice(*m_model, row);
}

void PortfolioEditor::layoutExtra(int) {
    tableButton->move(Data1->x() + Data1->width(), Data1->y());
}

void PortfolioEditor::rerunLater() {
    // The grid is still inside its editor when an edit is applied; re-run afterwards.
    QTimer::singleShot(0, this, [this] { refresh(); });
}

QString PortfolioEditor::editCell(int row, int column, const QString &text) {
    const tables::GridColumn &col = m_columns.at(static_cast<size_t>(column));
    tables::GridColumn plain = col;
    tables::removeSortMark(plain);
    const std::string table = portfolioTable();
    try {
        const storage::Value value = tables::portValue(col.field, plain.caption, us(text));
        storage::Database &db = m_data.database();
        if (row >= 0) {
            tables::updatePortField(db, table, m_model->value(row, "PDATE"),
                                    m_model->value(row, "CODE").textOr(""), col.field, value);
            rerunLater();
            return {};
        }
        // The new row is written once it has its date and code.
        m_model->setPending(column, text);
        auto pending = [&](const char *field) -> storage::Value {
            for (const auto &[c, t] : m_model->pendingRow()) {
                const tables::GridColumn &pc = m_columns.at(static_cast<size_t>(c));
                if (pc.field == field)
                    return tables::portValue(pc.field, pc.caption, us(t));
            }
            return {};
        };
        const storage::Value pdate = pending("PDATE");
        const storage::Value code = pending("CODE");
        if (pdate.isNull() || code.isNull())
            return {};
        tables::insertPortEntry(db, table, pdate, code.toText(), pending("PSW"), pending("APRC"),
                                pending("AVAL"));
        m_model->clearPendingRow();
        rerunLater();
        return {};
    } catch (const tables::EditError &e) {
        return qs(e.what());
    } catch (const std::exception &e) {
        return qs(e.what());
    }
}

void PortfolioEditor::deleteSelectedRows() {
    std::vector<std::pair<storage::Value, std::string>> entries;
    for (const QModelIndex &i : DBGrid1->selectionModel()->selectedRows())
        if (i.row() < m_model->dataRowCount())
            entries.emplace_back(m_model->value(i.row(), "PDATE"),
                                 m_model->value(i.row(), "CODE").textOr(""));
    // A Delete on a row header is easily pressed by mistake: the rows go only on Yes.
    if (entries.empty() || m_port.busy() ||
        m_port.message("選択した" + std::to_string(entries.size()) +
                           "行をﾎﾟｰﾄﾌｫﾘｵから削除します。\r\nよろしいですか？",
                       us(windowTitle()), MsgIcon::Information,
                       MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    busyCommand([&] {
        for (const auto &[pdate, code] : entries)
            tables::deletePortEntry(m_data.database(), portfolioTable(), pdate, code);
    });
    if (!entries.empty())
        refresh();
}

bool PortfolioEditor::eventFilter(QObject *watched, QEvent *event) {
    if (watched == DBGrid1 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete &&
        !DBGrid1->selectionModel()->selectedRows().isEmpty()) {
        deleteSelectedRows();
        return true;
    }
    return GridWindow::eventFilter(watched, event);
}

} // namespace tesmo::ui
