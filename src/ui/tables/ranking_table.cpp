#include "ui/tables/ranking_table.h"

namespace tesmo::ui {
namespace keys = storage::keys;

RankingTable::RankingTable(QWidget *parent)
    : GridWindow(m_rank.columns, "ﾗﾝｷﾝｸﾞ ﾃｰﾌﾞﾙ", "ranktbl",
                 GeometryKeys{keys::ranktb_height, keys::ranktb_width, keys::ranktb_top,
                              keys::ranktb_left},
                 keys::cnt_F_ranktb, parent) {
    setObjectName(QStringLiteral("RankingTable"));
    bindGrid();
    m_marksWatchMatches = true;
    maxTopicButton = new QPushButton(QStringLiteral("[最大Web話]順に表示"), this);
    maxTopicButton->setGeometry(px(60), px(60), px(2300), px(375));
    recommendationButton = new QPushButton(QStringLiteral("[推薦度]順に表示"), this);
    recommendationButton->setGeometry(px(2420), px(60), px(2300), px(375));
    connect(maxTopicButton, &QPushButton::clicked, this, &RankingTable::sortByMaxTopic);
    connect(recommendationButton, &QPushButton::clicked, this, &RankingTable::sortByRecommendation);
    m_gridTop = 500;

    // The stored direction is pre-marked by the core so that this sort turns it.
    if (openDatabase())
        busyCommand([this] { runSource(m_rank.open()); });
    finishOpen(13000, 7200);
}

void RankingTable::columnsApplied() {
    for (QPushButton *b : {maxTopicButton, recommendationButton}) {
        if (!b)
            continue;
        const bool topics = columns().at(b == maxTopicButton ? 7 : 8).visible;
        b->setEnabled(topics);
        b->setToolTip(topics ? QString()
                             : QStringLiteral("J-Quantsのデータには話題数がないため使えません"));
    }
}

void RankingTable::sortByColumn(int c) {
    busyCommand([this, c] { runSource(m_rank.sortByColumn(c)); });
}

void RankingTable::sortByMaxTopic() {
    busyCommand([this] { runSource(m_rank.sortButton(7)); });
}

void RankingTable::sortByRecommendation() {
    busyCommand([this] { runSource(m_rank.sortButton(8)); });
}

} // namespace tesmo::ui
