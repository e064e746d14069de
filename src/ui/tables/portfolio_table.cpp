#include "ui/tables/portfolio_table.h"

#include "ui/common/window_hub.h"
#include "ui/tables/result_set_model.h"

#include <cmath>

namespace tesmo::ui {
namespace keys = storage::keys;

std::optional<double> purchasePrice(const ResultSetModel &model, int row) {
    const storage::Value v = model.value(row, "APRC");
    if (v.isNull())
        return std::nullopt;
    try {
        // The chart takes the price as a whole number, rounded half to even.
        return std::nearbyint(v.toDouble());
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

PortfolioTable::PortfolioTable(QWidget *parent)
    : GridWindow(m_table.columns, "ﾎﾟｰﾄﾌｫﾘｵ ﾃｰﾌﾞﾙ", "porttbl",
                 GeometryKeys{keys::porttb_height, keys::porttb_width, keys::porttb_top,
                              keys::porttb_left},
                 keys::cnt_F_porttb, parent),
      m_table("V_PORT") {
    setObjectName(QStringLiteral("PortfolioTable"));
    bindGrid();
    m_marksWatchMatches = true;
    for (int i = 0; i < 5; ++i) {
        groupButtons[i] = new QRadioButton(QStringLiteral("区分%1").arg(i), this);
        groupButtons[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
        groupButtons[i]->setGeometry(px(60 + i * 1000), px(60), px(960), px(300));
        connect(groupButtons[i], &QRadioButton::clicked, this, [this, i] { showGroup(i); });
    }
    groupButtons[0]->setChecked(true);
    L_pval = new QLabel(QStringLiteral(" [区分-0]"), this);
    L_pval->setObjectName(QStringLiteral("L_pval"));
    L_pval->setGeometry(px(60), px(400), px(8000), px(300));
    editorButton = new QPushButton(QStringLiteral("ﾎﾟｰﾄﾌｫﾘｵ ﾒﾝﾃﾅﾝｽ"), this);
    editorButton->setGeometry(px(5200), px(30), px(2200), px(345));
    connect(editorButton, &QPushButton::clicked, this,
            [] { WindowHub::instance().show(WindowKind::PortfolioEditor); });
    m_gridTop = 760;

    if (openDatabase()) {
        m_table = tables::PortTable(portfolioView("V_PORT"));
        busyCommand([this] {
            const int g = m_table.open();
            groupButtons[static_cast<size_t>(g)]->setChecked(true);
            fillGroupTable();
        });
    }
    finishOpen(13000, 6600);
}

int PortfolioTable::selectedGroup() const {
    for (int i = 0; i < 5; ++i)
        if (groupButtons[static_cast<size_t>(i)]->isChecked())
            return i;
    return 0;
}

void PortfolioTable::fillGroupTable() {
    const int g = selectedGroup();
    if (!runSource(m_table.fill(g)))
        return; // said once; the totals would fail for the same reason
    // The totals are a convenience: when they cannot be read the label keeps its caption.
    if (auto caption = tables::groupTotalsCaption(m_data.database(), m_table.view(), g)) {
        L_pval->setText(qs(*caption));
        L_pval->setToolTip(L_pval->text());
    }
}

void PortfolioTable::showGroup(int index) {
    busyCommand([this, index] {
        groupButtons[static_cast<size_t>(index)]->setChecked(true);
        fillGroupTable();
    });
}

void PortfolioTable::headerClick(int c) {
    busyCommand([this, c] {
        storage::writeSetting(keys::F_porttbsorta, std::to_string(c));
        fillGroupTable();
    });
}

std::optional<double> PortfolioTable::chartPrice(int row) const {
    return purchasePrice(*m_model, row);
}

} // namespace tesmo::ui
