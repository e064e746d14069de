#include "ui/tables/f_ranktb.h"

namespace tesmo::ui {
namespace keys = storage::keys;

F_ranktb::F_ranktb(QWidget *parent)
    : GridWindow(m_rank.columns, "ﾗﾝｷﾝｸﾞ ﾃｰﾌﾞﾙ", "ranktbl",
                 GeometryKeys{keys::ranktb_height, keys::ranktb_width, keys::ranktb_top,
                              keys::ranktb_left},
                 keys::cnt_F_ranktb, parent) {
    setObjectName(QStringLiteral("F_ranktb"));
    bindGrid();
    Command1 = new QPushButton(QStringLiteral("[最大Web話]順に表示"), this);
    Command1->setGeometry(px(60), px(60), px(2300), px(375));
    Command2 = new QPushButton(QStringLiteral("[推薦度]順に表示"), this);
    Command2->setGeometry(px(2420), px(60), px(2300), px(375));
    connect(Command1, &QPushButton::clicked, this, &F_ranktb::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &F_ranktb::Command2_Click);
    m_gridTop = 500;

    // The stored direction is pre-marked by the core so that this sort turns it.
    if (openDatabase())
        busyCommand([this] { runSource(m_rank.open()); });
    finishOpen(13000, 7200);
}

void F_ranktb::columnsApplied() {
    for (QPushButton *b : {Command1, Command2}) {
        if (!b)
            continue;
        const bool topics = columns().at(b == Command1 ? 7 : 8).visible;
        b->setEnabled(topics);
        b->setToolTip(topics ? QString()
                             : QStringLiteral("J-Quantsのデータには話題数がないため使えません"));
    }
}

void F_ranktb::sortByColumn(int c) {
    busyCommand([this, c] { runSource(m_rank.sortByColumn(c)); });
}

void F_ranktb::Command1_Click() {
    busyCommand([this] { runSource(m_rank.sortButton(7)); });
}

void F_ranktb::Command2_Click() {
    busyCommand([this] { runSource(m_rank.sortButton(8)); });
}

} // namespace tesmo::ui
