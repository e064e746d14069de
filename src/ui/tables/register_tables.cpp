#include "ui/tables/register_tables.h"

#include "ui/common/window_hub.h"
#include "ui/tables/portfolio_editor.h"
#include "ui/tables/portfolio_table.h"
#include "ui/tables/ranking_table.h"
#include "ui/tables/stock_search_window.h"

namespace tesmo::ui {

void registerTableWindows() {
    WindowHub &hub = WindowHub::instance();
    hub.registerFactory(WindowKind::RankingTable, [] { return new RankingTable; });
    hub.registerFactory(WindowKind::PortfolioTable, [] { return new PortfolioTable; });
    hub.registerFactory(WindowKind::PortfolioEditor, [] { return new PortfolioEditor; });
    hub.registerFactory(WindowKind::StockSearch, [] { return new StockSearchWindow; });
}

} // namespace tesmo::ui
