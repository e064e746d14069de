#include "core/chart/chart_commands.h"

#include "core/storage/settings_keys.h"
#include "core/storage/value.h"

#include <cstdlib>
#include <ctime>

namespace tesmo::chart {
namespace {

using storage::Database;
using storage::ResultSet;
using storage::Value;

const std::string kCrLf = "\r\n";

size_t charCount(const std::string &utf8) {
    size_t n = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

std::string percentByte(unsigned char c) {
    static const char *hex = "0123456789ABCDEF";
    return {'%', hex[c >> 4], hex[c & 15]};
}

// Letters, digits and "-._~" stay as they are: an ordinary code goes out unchanged, while a
// blank, "&" or "#" typed into the code box can no longer split the command line or add
// parameters to the page's query.
std::string queryValue(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
            c == '-' || c == '.' || c == '_' || c == '~')
            out += static_cast<char>(c);
        else
            out += percentByte(c);
    }
    return out;
}

std::string site(const storage::SettingKey &key) {
    std::string s = storage::readSetting(key);
    while (!s.empty() && s.back() == '/')
        s.pop_back();
    return s;
}

std::string browserPrefix() {
    const std::string b = storage::readSetting(storage::keys::browser);
    return b.empty() ? std::string() : b + " ";
}

// A setting read as a number the way the program reads numbers from text: the leading
// number, 0 when there is none.
double leadingNumber(const std::string &s) {
    return std::strtod(s.c_str(), nullptr);
}

} // namespace

AddPortResult addToPortfolio(ChartDbLink &link, const std::string &table, const std::string &code,
                             int today) {
    std::string step;
    try {
        step = "DB接続";
        Database &db = link.connect();
        step = "価格取得";
        long long price = -1;
        ResultSet rs = db.openRecordset("SELECT PRC from V_RANK  where CODE=?  ; ", {Value(code)});
        if (!rs.eof() && !rs.field(0).isNull())
            price = rs.field(0).toInt();
        rs.close();
        AddPortResult result;
        if (price >= 1) {
            step = "登録確認";
            rs = db.openRecordset("SELECT AVAL from " + table +
                                      " where PDATE=" + std::to_string(today) + "   and CODE=?  ; ",
                                  {Value(code)});
            if (rs.eof()) {
                step = "新規登録";
                db.execute("Insert into " + table + "(PDATE,CODE,PSW,APRC,AVAL) Values(" +
                               std::to_string(today) + ",?,0," + std::to_string(price) + ",1000);",
                           {Value(code)});
                result.outcome = AddPortOutcome::New;
            } else {
                step = "株数追加";
                const Value &aval = rs.field(0);
                const double shares = (aval.isNull() ? 0.0 : aval.toDouble()) + 1000;
                db.execute("Update " + table + " set AVAL=" + storage::formatDouble(shares) +
                               " where PDATE=" + std::to_string(today) + "   and CODE=? ;",
                           {Value(code)});
                result.outcome = AddPortOutcome::Added;
            }
            rs.close();
        }
        step = "DB開放";
        link.close();
        return result;
    } catch (const std::exception &e) {
        link.closeQuietly();
        return {AddPortOutcome::Failed, "ﾎﾟｰﾄﾌｫﾘｵに追加できませんでした。" + kCrLf + step +
                                            "時にｴﾗｰが発生しました" + kCrLf + "詳細:" + e.what()};
    }
}

std::string addPortMessage(const AddPortResult &result) {
    switch (result.outcome) {
    case AddPortOutcome::Added:
        return "追加しました(株数追加)";
    case AddPortOutcome::New:
        return "追加しました(新規)";
    case AddPortOutcome::NotAdded:
        return "追加されませんでした";
    case AddPortOutcome::Failed:
        return result.failure;
    }
    return {};
}

int todayYmd() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

std::vector<std::string> web1Commands(const std::string &code) {
    if (charCount(code) != 4)
        return {};
    const std::string base = browserPrefix() + site(storage::keys::infosite);
    // Every character of the code goes percent-encoded: 1234 becomes %31%32%33%34.
    std::string encoded;
    for (unsigned char c : code)
        encoded += percentByte(c);
    return {base + "/", base + "/servlets/Query?SRC=indiv/check&codetext=" + encoded};
}

int web1WaitSeconds() {
    const double s = leadingNumber(storage::readSetting(storage::keys::web1wait));
    return s > 0 ? static_cast<int>(s) : 0;
}

std::string web2Command(const std::string &code) {
    if (charCount(code) != 4)
        return {};
    return browserPrefix() + site(storage::keys::quotesite) + "/q?s=" + queryValue(code) +
           "&d=c&k=c3&h=on&z=m";
}

std::string realtimeUrl(const std::string &code) {
    std::string url =
        site(storage::keys::realtmsite) + "/tesmo_onl/real_tm_i.php?code=" + queryValue(code);
    if (leadingNumber(storage::readSetting(storage::keys::realcspd)) == 1)
        url += "&autoclose=1";
    return url;
}

} // namespace tesmo::chart
