#include "ui/tables/f_porttb.h"

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

F_porttb::F_porttb(QWidget *parent)
    : GridWindow(m_table.columns, "ﾎﾟｰﾄﾌｫﾘｵ ﾃｰﾌﾞﾙ", "porttbl",
                 GeometryKeys{keys::porttb_height, keys::porttb_width, keys::porttb_top,
                              keys::porttb_left},
                 keys::cnt_F_porttb, parent),
      m_table("V_PORT") {
    setObjectName(QStringLiteral("F_porttb"));
    bindGrid();
    for (int i = 0; i < 5; ++i) {
        Option1[i] = new QRadioButton(QStringLiteral("区分%1").arg(i), this);
        Option1[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
        Option1[i]->setGeometry(px(60 + i * 1000), px(60), px(960), px(300));
        connect(Option1[i], &QRadioButton::clicked, this, [this, i] { Option1_Click(i); });
    }
    Option1[0]->setChecked(true);
    L_pval = new QLabel(QStringLiteral(" [区分-0]"), this);
    L_pval->setObjectName(QStringLiteral("L_pval"));
    L_pval->setGeometry(px(60), px(400), px(8000), px(300));
    Command1 = new QPushButton(QStringLiteral("ﾎﾟｰﾄﾌｫﾘｵ ﾒﾝﾃﾅﾝｽ"), this);
    Command1->setGeometry(px(5200), px(30), px(2200), px(345));
    connect(Command1, &QPushButton::clicked, this,
            [] { WindowHub::instance().show(WindowKind::PortM); });
    m_gridTop = 760;

    if (openDatabase()) {
        m_table = tables::PortTable(portfolioView("V_PORT"));
        busyCommand([this] {
            const int g = m_table.open();
            Option1[static_cast<size_t>(g)]->setChecked(true);
            fillGroupTable();
        });
    }
    finishOpen(13000, 6600);
}

int F_porttb::selectedGroup() const {
    for (int i = 0; i < 5; ++i)
        if (Option1[static_cast<size_t>(i)]->isChecked())
            return i;
    return 0;
}

void F_porttb::fillGroupTable() {
    const int g = selectedGroup();
    if (!runSource(m_table.fill(g)))
        return; // said once; the totals would fail for the same reason
    // The totals are a convenience: when they cannot be read the label keeps its caption.
    if (auto caption = tables::groupTotalsCaption(m_data.database(), m_table.view(), g)) {
        L_pval->setText(qs(*caption));
        L_pval->setToolTip(L_pval->text());
    }
}

void F_porttb::Option1_Click(int index) {
    busyCommand([this, index] {
        Option1[static_cast<size_t>(index)]->setChecked(true);
        fillGroupTable();
    });
}

void F_porttb::headerClick(int c) {
    busyCommand([this, c] {
        storage::writeSetting(keys::F_porttbsorta, std::to_string(c));
        fillGroupTable();
    });
}

std::optional<double> F_porttb::chartPrice(int row) const {
    return purchasePrice(*m_model, row);
}

} // namespace tesmo::ui
