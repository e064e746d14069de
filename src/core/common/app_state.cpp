#include "core/common/app_state.h"

namespace tesmo {

AppState &appState() {
    static AppState state;
    return state;
}

std::string portfolioTable() {
    const AppState &s = appState();
    return s.portfile_path.empty() || s.port_link_table.empty() ? std::string("T_PORT")
                                                                : s.port_link_table;
}

} // namespace tesmo
