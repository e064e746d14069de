#include "core/update/version_check.h"

#include "core/common/paths.h"
#include "core/common/text.h"
#include "core/storage/settings_keys.h"
#include "core/storage/settings_store.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace tesmo::update {
namespace {

float g_updateSize = 0;

const char *const kUpdaterProgram = "tesmo_auto";

// A real page breaks its lines between rows, so a cell ends in CR LF as often as in blanks.
std::string trimSpace(const std::string &s) {
    const char *ws = " \t\r\n\f\v";
    const auto first = s.find_first_not_of(ws);
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(ws) - first + 1);
}

double number(const std::string &text, const char *what) {
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || !end || *end != '\0')
        throw std::runtime_error(std::string(what) + "が数値ではありません: \"" + text + "\"");
    return v;
}

std::string withoutTrailingSlash(std::string s) {
    while (!s.empty() && s.back() == '/')
        s.pop_back();
    return s;
}

} // namespace

std::string moduleTableUrl() {
    return withoutTrailingSlash(storage::readSetting(storage::keys::updatesite)) + "/tesmo_auto/";
}

std::vector<ModuleRow> parseModuleTable(const std::string &page) {
    std::string text = page;
    replaceAll(text, kModuleStartMarker, kModuleEndMarker);
    const std::vector<std::string> pieces = splitText(text, kModuleEndMarker);
    if (pieces.size() < 2)
        throw std::runtime_error("モジュール一覧の目印がありません");
    std::string table = pieces[1];
    for (const char *drop : {"</tr>", "</td>", "align=right", ">"})
        replaceAll(table, drop, "");
    std::vector<ModuleRow> rows;
    for (const std::string &row : splitText(table, "<tr")) {
        const std::vector<std::string> cells = splitText(row, "<td");
        if (cells.size() < 5)
            continue;
        rows.push_back({trimSpace(cells[2]), trimSpace(cells[3]), trimSpace(cells[4])});
    }
    return rows;
}

long long hourStamp(std::time_t when) {
    std::tm tm{};
    localtime_r(&when, &tm);
    const long long yymmddhh = (tm.tm_year % 100) * 1000000LL + (tm.tm_mon + 1) * 10000LL +
                               tm.tm_mday * 100LL + tm.tm_hour;
    return yymmddhh + 100000000LL;
}

bool moduleOffered(const ModuleRow &row, long long now, bool completeDb,
                   const std::string &installedStamp) {
    // Rows of the current hour or later are not offered yet: the files may still be
    // arriving on the site.
    if (!(now > parseWholeNumber(row.stamp, "更新日時")))
        return false;
    const std::string name = lowerAscii(row.name);
    if (name == kCompleteDatabaseFile)
        return completeDb;
    // Text order: for the nine-digit stamps the numeric order, and the default "1080505"
    // sorts before every stamp from 5 May 2008 on.
    if (!(installedStamp < row.stamp))
        return false;
    // The complete package replaces the database file.
    return !(completeDb && name == kDatabaseFile);
}

bool safeModuleName(const std::string &name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool isDatabaseModule(const std::string &name) {
    return lowerAscii(name).find(kDatabaseFile) != std::string::npos;
}

std::string versionCheck(net::HttpClient &client, UiPort &port, bool completeDb) {
    using namespace storage;
    g_updateSize = 0;
    std::string result;
    try {
        if (!fileExists(installPath(kUpdaterProgram)))
            return {};
        const std::string app = updaterStateAppName();
        for (const char *section : {kTrgDtSection, kTrgSzSection}) {
            try {
                deleteSettingSection(app, section);
            } catch (const SettingsError &) {
                // The sections need not exist.
            }
        }
        const long long now = hourStamp(std::time(nullptr));

        std::string page;
        if (!net::FetchToText(moduleTableUrl(), port, client, page).empty())
            return {};
        std::vector<std::string> refused;
        for (const ModuleRow &row : parseModuleTable(page)) {
            if (!safeModuleName(row.name)) {
                if (!row.name.empty())
                    refused.push_back(row.name);
                continue;
            }
            const std::string installed =
                getSetting(app, kWebcheckSection, lowerAscii(row.name), kWebcheckDefault);
            if (!moduleOffered(row, now, completeDb, installed) ||
                (!isDatabaseModule(row.name) && !programFolderWritable()))
                continue;
            const double size = number(row.size, "ファイルサイズ");
            result += row.name + " " + row.size + " " + row.stamp + "\t";
            saveSetting(app, kTrgDtSection, row.name, row.stamp);
            saveSetting(app, kTrgSzSection, row.name, row.size);
            g_updateSize += static_cast<float>(size);
        }
        if (!refused.empty()) {
            std::string text = "更新サイトのファイル一覧に、インストール先のフォルダの外を指す"
                               "ファイル名がありました。"
                               "\r\n"
                               "次のファイルは更新しません。"
                               "\r\n";
            for (const std::string &name : refused)
                text += "\r\n" + name;
            port.message(text, "Tesmo", MsgIcon::Exclamation, MsgButtons::Ok);
        }
        return result;
    } catch (const std::exception &) {
        return {};
    }
}

float updateSize() {
    return g_updateSize;
}

} // namespace tesmo::update
