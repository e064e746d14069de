#pragma once
// Program-wide values that the main window's start-up sets and every window reads.
#include <string>

namespace tesmo {

struct AppState {
    std::string desktop_dir;     // default folder of CSV export
    std::string profile_dir;     // default folder of portfolio files
    std::string portfile_path;   // external portfolio file; empty: T_PORT of the main database
    std::string port_link_table; // "userportf" + useridno while an external portfolio is used
    bool startup_done = false;
    bool update_exit = false; // set just before the program ends for an update
};

AppState &appState();

// The table the portfolio lives in: T_PORT, or the linked table of the external file.
std::string portfolioTable();

} // namespace tesmo
