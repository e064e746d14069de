#pragma once
// What the tests of the program update share: a temporary install folder with an updater
// program that only leaves a mark when it runs, and a loopback update site that serves a
// module table.
#include "core/common/app_state.h"
#include "core/common/paths.h"
#include "core/net/http_fetch.h"
#include "core/storage/settings_keys.h"
#include "support/http_test_server.h"
#include "support/recording_port.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace tesmo::test {

struct TableRow {
    std::string name, size, stamp;
};

// A module table page as the update site writes it: one row per line, a header row, sizes
// aligned right, and a row outside the markers that must never count.
inline std::string moduleTablePage(const std::vector<TableRow> &rows) {
    std::string page = "<html><body>\r\n<h1>Tesmo modules</h1>\r\n<table border=1>\r\n"
                       "<tr><td>0</td><td>outside.dll</td><td>1</td><td>124010100</td></tr>\r\n"
                       "<!- tesmo module update start -->\r\n"
                       "<tr><th>No</th><th>file</th><th>size</th><th>date</th></tr>\r\n";
    int n = 1;
    for (const TableRow &r : rows)
        page += "<tr>\r\n  <td>" + std::to_string(n++) + "</td>\r\n  <td>" + r.name +
                "</td>\r\n  <td align=right> " + r.size + " </td>\r\n  <td>" + r.stamp +
                "</td>\r\n</tr>\r\n";
    page += "<!- tesmo module update end -->\r\n</table>\r\n</body></html>\r\n";
    return page;
}

// Writes an executable shell script.
inline void writeScript(const std::string &path, const std::string &body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::group_exec);
}

// Waits (at most about ten seconds) for a file that a started program writes.
inline bool appears(const std::string &path) {
    for (int i = 0; i < 500 && !std::filesystem::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return std::filesystem::exists(path);
}

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        appState().update_exit = false;
        storage::writeSetting(storage::keys::updatesite, server.url(""));
        port.setCaption("Tesmo");
    }
    void TearDown() override { appState().update_exit = false; }

    // An updater that only leaves the file "started" beside itself.
    void installUpdater() {
        writeScript(installPath("tesmo_auto"), "touch \"$(dirname \"$0\")/started\"");
    }
    void publish(const std::vector<TableRow> &rows) {
        server.serve("/tesmo_auto/", moduleTablePage(rows));
    }

    TempEnv env;
    RecordingPort port;
    net::HttpClient client;
    HttpTestServer server;
};

} // namespace tesmo::test
