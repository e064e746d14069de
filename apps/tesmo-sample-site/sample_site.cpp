#include "sample_site.h"

#include "lzh_writer.h"

#include "core/acquire/day_file_writer.h"
#include "core/common/cp932.h"
#include "core/common/crypto.h"
#include "core/common/dates.h"
#include "core/common/paths.h"
#include "core/update/release_publish.h"
#include "core/update/version_check.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace sample_site {
namespace {

using tesmo::acquire::DayRecord;

using tesmo::dateOfOrdinal;
using tesmo::dayOrdinal;

bool weekday(long long ordinal) {
    const int dow = tesmo::weekdayOf(dateOfOrdinal(ordinal));
    return dow != 0 && dow != 6;
}

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A number in [0, 1) fixed by the two keys.
double unit(uint64_t a, uint64_t b) {
    return static_cast<double>(mix(a * 0x100000001B3ull ^ mix(b)) >> 11) / 9007199254740992.0;
}

const char *const kPrefixes[] = {
    "東洋", "日本", "大和",   "北海",   "中央", "東京",   "大阪",   "名古屋", "九州", "三和",
    "富士", "昭和", "平和",   "新日本", "第一", "太平洋", "関西",   "信越",   "北陸", "山陽",
    "東邦", "日東", "大同",   "明治",   "高砂", "千代田", "丸の内", "朝日",   "旭",   "菱和",
    "三光", "日進", "協和",   "共栄",   "大成", "日興",   "東亜",   "南海",   "西部", "東北",
    "中国", "四国", "瀬戸内", "湘南",   "横浜", "神戸",   "京都",   "奈良",   "札幌", "仙台",
    "広島", "福岡", "熊本",   "琉球",   "常磐", "武蔵",   "相模",   "駿河",   "尾張", "紀伊",
    "出雲", "若葉", "青葉",   "桜"};
const char *const kSuffixes[] = {
    "製作所", "電機",   "化学",   "工業",     "建設",   "商事",     "銀行",
    "証券",   "不動産", "食品",   "製薬",     "運輸",   "電力",     "ガス",
    "物産",   "鋼業",   "精機",   "繊維",     "製紙",   "海運",     "ホールディングス",
    "通信",   "石油",   "倉庫",   "重工",     "自動車", "機械",     "電子",
    "印刷",   "ゴム",   "硝子",   "セメント", "酒造",   "製菓",     "水産",
    "農産",   "薬品",   "産業",   "興業",     "開発",   "システム", "ソフト",
    "情報",   "放送",   "出版",   "百貨店",   "ストア", "電設",     "設備",
    "計器",   "光学",   "精密",   "金属",     "電線",   "鉄道",     "バス",
    "航空",   "観光",   "ホテル", "保険"};
constexpr int kPrefixCount = sizeof kPrefixes / sizeof *kPrefixes;
constexpr int kSuffixCount = sizeof kSuffixes / sizeof *kSuffixes;

const char *const kMarkets[] = {"東証プライム", "東証スタンダード", "東証グロース", "名証"};

std::string html(const std::string &title, const std::string &body) {
    return "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
           "charset=Shift_JIS\">\r\n<title>" +
           title + "</title>\r\n</head>\r\n<body>\r\n" + body + "</body>\r\n</html>\r\n";
}

Reply notFound() {
    return {404, "text/html", "<html><body>404 Not Found</body></html>"};
}

Reply cp932Page(const std::string &utf8) {
    return {200, "text/html; charset=Shift_JIS", tesmo::utf8ToCp932(utf8)};
}

// A counter image: the smallest GIF there is (one transparent pixel).
const unsigned char kGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xF9, 0x04,
                              0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01,
                              0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};

} // namespace

DayRecord sampleStock(int i, long long date) {
    DayRecord r;
    r.date = date;
    r.code = std::to_string(1301 + 2 * i);
    // Walk the name table with a step that is prime to its size, so neighbours differ.
    const int k = static_cast<int>((static_cast<long long>(i) * 2137) %
                                   (static_cast<long long>(kPrefixCount) * kSuffixCount));
    r.name = std::string(kPrefixes[k / kSuffixCount]) + kSuffixes[k % kSuffixCount];
    r.market = kMarkets[mix(static_cast<uint64_t>(i)) % 4];

    // Price: a slow wave around the stock's own level plus a little daily noise, so that a
    // chart of the series looks like something. Volume and topic count jump now and then.
    const long long day = dayOrdinal(date);
    const double base = 100.0 + std::floor(unit(i, 1) * 9900.0);
    const double phase = unit(i, 2) * 6.283;
    const double wave = 1.0 + 0.15 * std::sin(static_cast<double>(day) / 23.0 + phase);
    const double noise = 1.0 + 0.04 * (unit(i, static_cast<uint64_t>(day) * 3 + 7) - 0.5);
    r.prc = std::round(base * wave * noise);
    const double busy = unit(i, static_cast<uint64_t>(day) * 5 + 11) < 0.05 ? 6.0 : 1.0;
    r.dval = std::round((1.0 + unit(i, 3) * 49.0) * busy *
                        (0.5 + unit(i, static_cast<uint64_t>(day) * 7 + 13))) *
             100000.0;
    r.talk = std::floor(unit(i, static_cast<uint64_t>(day) * 11 + 17) * 40.0 * busy);
    return r;
}

int daysIntoPreviousMonth(long long endDate, int previousMonthDays) {
    int days = 0;
    int before = 0;
    const long long month = endDate / 100;
    for (long long d = dayOrdinal(endDate); before < previousMonthDays; --d) {
        if (!weekday(d))
            continue;
        ++days;
        if (dateOfOrdinal(d) / 100 != month)
            ++before;
    }
    return days;
}

long long lastTradingDayBefore(long long today) {
    long long d = dayOrdinal(today) - 1;
    while (!weekday(d))
        --d;
    return dateOfOrdinal(d);
}

SampleSite::SampleSite(SiteOptions options) : m_options(std::move(options)) {
    if (m_options.days < 1 || m_options.stocks < 1 ||
        m_options.stocks > kPrefixCount * kSuffixCount)
        throw std::invalid_argument("days must be 1 or more, stocks from 1 to " +
                                    std::to_string(kPrefixCount * kSuffixCount));
    long long d = dayOrdinal(m_options.endDate);
    while (static_cast<int>(m_days.size()) < m_options.days) {
        if (weekday(d))
            m_days.push_back(dateOfOrdinal(d));
        --d;
    }
    tesmo::update::ReleaseManifest release;
    release.serial = m_options.releaseSerial;
    if (!m_options.releaseDir.empty())
        release = tesmo::update::manifestOfFolder(m_options.releaseDir, m_options.releaseSerial);
    // The development key: never the key of a real release.
    const auto signedList =
        tesmo::update::signManifest(release, tesmo::crypto::fromBase64(TESMO_RELEASE_TEST_SECRET));
    m_manifest = signedList.text;
    m_signature = signedList.signature;
}

bool SampleSite::packed(long long date) const {
    return dayOrdinal(date) % 2 == 0;
}

std::string SampleSite::dayFileName(long long date) const {
    return std::to_string(date) + (packed(date) ? ".bnd.lzh" : ".bnd");
}

std::string SampleSite::dayFile(long long date) const {
    std::vector<DayRecord> records;
    records.reserve(static_cast<size_t>(m_options.stocks));
    for (int i = 0; i < m_options.stocks; ++i) {
        records.push_back(sampleStock(i, date));
        // Every fiftieth stock of the day files has a code of the exchange's newer form, a
        // letter in the last place (130A, 140A, ...), as the codes given out since 2024 have.
        if (i % 50 == 2)
            records.back().code = records.back().code.substr(0, 3) + "A";
    }
    tesmo::acquire::DayFileOptions options;
    options.notice = {"Tesmo サンプルデータ " + std::to_string(date),
                      "このファイルの銘柄と数値はすべて架空のものです。"};
    return tesmo::acquire::dayFileBytes(records, options);
}

std::string SampleSite::indexPage() const {
    std::string body = "<h1>Tesmo サンプルデータサイト</h1>\r\n"
                       "毎日の更新データ(古い順)<br>\r\n"
                       "<!- tesmo daily data start --><br>\r\n";
    // Oldest first: the scan imports the days in the page's order, and a day imported while
    // it is the newest leaves its month's summary row behind, so a first data update ends
    // with the summaries of both months (the ranking's 平均出来高 reads the previous one).
    for (auto it = m_days.rbegin(); it != m_days.rend(); ++it) {
        const long long date = *it;
        const std::string name = dayFileName(date);
        body += "<a href=\"" + std::string(dataPath()) + name + "\">" + name + "</a><br>\r\n";
    }
    body += "<!- tesmo daily data end --><br>\r\n"
            "<p>古いデータはありません。</p>\r\n";
    return html("Tesmo 無料データ", body);
}

std::string SampleSite::announcementPage() const {
    return html("Tesmo からのお知らせ", "<!- tesmo announce start -->\r\n" +
                                            m_options.announcement +
                                            "\r\n<!- tesmo announce end -->\r\n");
}

std::vector<std::string> SampleSite::releaseFiles() const {
    std::vector<std::string> names;
    if (m_options.releaseDir.empty())
        return names;
    for (const auto &entry : fs::directory_iterator(m_options.releaseDir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && !tesmo::update::partOfSignedList(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string SampleSite::moduleTablePage() const {
    std::string rows;
    if (m_options.releaseDir.empty()) {
        // Nothing here is newer than the default stamp of an installation (5 May 2008), so the
        // demo never offers to replace the programs.
        rows = "<tr><td>1</td><td>Tesmo</td><td align=right>1048576</td><td>108050100</td></tr>"
               "\r\n<tr><td>2</td><td>tesmo_auto</td><td align=right>262144</td>"
               "<td>108050100</td></tr>\r\n";
    }
    int n = 0;
    for (const std::string &name : releaseFiles())
        rows += "<tr><td>" + std::to_string(++n) + "</td><td>" + name + "</td><td align=right>" +
                std::to_string(tesmo::fileLength(tesmo::joinPath(m_options.releaseDir, name))) +
                "</td><td>" + m_options.releaseStamp + "</td></tr>\r\n";
    return "<html><body>\r\n<table border=1>\r\n<!- tesmo module update start -->\r\n"
           "<tr><th>No</th><th>file</th><th>size</th><th>date</th></tr>\r\n" +
           rows + "<!- tesmo module update end -->\r\n</table>\r\n</body></html>\r\n";
}

Reply SampleSite::releaseFile(const std::string &name) const {
    const std::string &dir = m_options.releaseDir;
    const bool signedList =
        name == tesmo::update::kManifestFile || name == tesmo::update::kSignatureFile;
    // A folder with a list of its own (tesmoctl release-sign) is served as it stands.
    if (signedList &&
        (dir.empty() || !fs::exists(tesmo::joinPath(dir, tesmo::update::kManifestFile))))
        return {200, "text/plain", name == tesmo::update::kManifestFile ? m_manifest : m_signature};
    const std::string path = tesmo::joinPath(dir, name);
    if (dir.empty() || !tesmo::update::safeModuleName(name) || !fs::is_regular_file(path))
        return notFound();
    return {200, "application/octet-stream", tesmo::readFileBytes(path)};
}

Reply SampleSite::get(const std::string &path) const {
    if (path == indexPath())
        return cp932Page(indexPage());
    if (path == "/prg_msg.html")
        return cp932Page(announcementPage());
    if (path == "/cgi-bin/wcnt315/wwwcount.cgi")
        return {200, "image/gif", std::string(reinterpret_cast<const char *>(kGif), sizeof kGif)};
    if (path == "/tesmo_auto/")
        return {200, "text/html", moduleTablePage()};
    if (path.rfind("/tesmo_auto/", 0) == 0)
        return releaseFile(path.substr(std::string("/tesmo_auto/").size()));
    if (path == "/tesmo/")
        return cp932Page(
            html("Tesmo", "<h1>Tesmo</h1>\r\n<p>サンプルのホームページです。</p>\r\n"));
    const std::string prefix = dataPath();
    if (path.rfind(prefix, 0) == 0) {
        const std::string name = path.substr(prefix.size());
        for (long long date : m_days) {
            if (name != dayFileName(date))
                continue;
            const std::string bytes = dayFile(date);
            if (!packed(date))
                return {200, "application/octet-stream", bytes};
            // Stamped at 18:00 UTC of the day, like a file made after the market closed.
            const std::time_t stamp =
                static_cast<std::time_t>(dayOrdinal(date) * 86400 + 18LL * 3600);
            return {200, "application/octet-stream",
                    storedArchive(std::to_string(date) + ".bnd", bytes, stamp)};
        }
    }
    return notFound();
}

} // namespace sample_site
