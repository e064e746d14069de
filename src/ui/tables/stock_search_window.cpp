#include "ui/tables/stock_search_window.h"

#include "core/tables/table_edits.h"
#include "core/tables/table_sources.h"
#include "ui/tables/result_set_model.h"

#include <QHeaderView>
#include <QTimer>

namespace tesmo::ui {
namespace keys = storage::keys;

StockSearchWindow::StockSearchWindow(QWidget *parent)
    : GridWindow(m_findColumns, "銘柄検索", "findco", std::nullopt, keys::cnt_Form3, parent),
      m_findColumns(tables::findColumns()) {
    setObjectName(QStringLiteral("StockSearchWindow"));
    bindGrid();
    Label1 = new QLabel(QStringLiteral("銘柄名の一部分または証協CDを入力してください"), this);
    Label1->setGeometry(px(60), px(60), px(6000), px(255));
    T_findtxt = new QLineEdit(this);
    T_findtxt->setObjectName(QStringLiteral("T_findtxt"));
    T_findtxt->setGeometry(px(60), px(330), px(4000), px(330));
    Ch_mstmnt = new QCheckBox(QStringLiteral("ﾏｽﾀｰﾒﾝﾃ"), this);
    Ch_mstmnt->setObjectName(QStringLiteral("Ch_mstmnt"));
    Ch_mstmnt->setGeometry(px(4200), px(360), px(1500), px(255));
    Ch_mstmnt->setVisible(storage::debugMode());
    m_gridTop = 760;
    // The search has no header sorting.
    DBGrid1->horizontalHeader()->setSectionsClickable(false);
    m_model->setEditor(
        [this](int row, int column, const QString &text) { return editCell(row, column, text); });

    connect(T_findtxt, &QLineEdit::textChanged, this, [this] { search(); });
    connect(Ch_mstmnt, &QCheckBox::clicked, this, [this] { search(); });
    if (openDatabase())
        search();
    finishOpen(10700, 6000);
}

void StockSearchWindow::search() {
    busyCommand([this] {
        const bool maintenance = Ch_mstmnt->isChecked();
        if (maintenance) {
            // The two columns stay visible until the window closes.
            m_findColumns[3].visible = true;
            m_findColumns[4].visible = true;
        }
        m_model->setReadOnly(!maintenance);
        runSource(tables::searchSource(us(T_findtxt->text()), maintenance));
    });
}

QString StockSearchWindow::editCell(int row, int column, const QString &text) {
    if (row < 0 || !Ch_mstmnt->isChecked())
        return {};
    const tables::GridColumn &col = m_findColumns.at(static_cast<size_t>(column));
    try {
        tables::updateMasterField(m_data.database(), m_model->value(row, "CODE").textOr(""),
                                  col.field, tables::masterValue(col.field, col.caption, us(text)));
    } catch (const std::exception &e) {
        return qs(e.what());
    }
    QTimer::singleShot(0, this, [this] { refresh(); });
    return {};
}

} // namespace tesmo::ui
