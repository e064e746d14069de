#include "core/acquire/site_scan.h"

#include "core/acquire/catch_up_progress.h"
#include "core/acquire/jquants_client.h"
#include "core/acquire/lha_extract.h"
#include "core/acquire/step_label.h"
#include "core/common/cp932.h"
#include "core/common/paths.h"
#include "core/common/text.h"
#include "core/storage/settings_keys.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tesmo::acquire {
namespace {

bool contains(const std::string &s, const char *part) {
    return s.find(part) != std::string::npos;
}

bool endsWithNoCase(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && lowerAscii(s.substr(s.size() - tail.size())) == tail;
}

// Characters (code points) of a UTF-8 text.
size_t charCount(const std::string &s) {
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

std::string firstChars(const std::string &s, size_t count) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && n++ == count)
            return s.substr(0, i);
    }
    return s;
}

void removeIfExists(const std::string &path) {
    if (fileExists(path))
        fs::remove(path);
}

// The page as text: code page 932 read line by line (a line ends at CR LF, CR or LF), each
// line followed by CR LF.
std::string readIndexPage(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("ファイルを開けません: " + path);
    std::ostringstream all;
    all << in.rdbuf();
    const std::string bytes = all.str();
    std::string text;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string::npos)
            end = bytes.size();
        text += bytes.substr(pos, end - pos) + "\r\n";
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() &&
            bytes[end + 1] == '\n')
            ++end;
        pos = end + 1;
    }
    return cp932ToUtf8(text);
}

// A link text names a file in the install folder; it must not lead anywhere else.
void checkFileName(const std::string &name) {
    bool ok = !name.empty() && name.front() != '.' && name.find("..") == std::string::npos;
    for (unsigned char c : name)
        ok = ok && c != '/' && c != '\\' && c >= 0x20 && c != 0x7F;
    if (!ok)
        throw std::runtime_error("ファイル名として使えないリンクです: \"" +
                                 singleLine(name, kServerTextLimit) + "\"");
}

// The trading date that the first eight characters of a link text give.
long long linkDate(const std::string &name) {
    bool ok = name.size() >= 8;
    for (size_t i = 0; ok && i < 8; ++i)
        ok = name[i] >= '0' && name[i] <= '9';
    if (!ok)
        throw std::runtime_error("型が一致しません: \"" + singleLine(name.substr(0, 8)) +
                                 "\" は日付ではありません");
    return std::stoll(name.substr(0, 8));
}

long long storedRows(storage::Database &db, long long day) {
    return db.scalar("Select count(IDATE) From T_NEARLY where IDATE=" + std::to_string(day) + ";")
        .toInt();
}

// The listed days that the scan will fetch, for the count in the caption. A link that names no
// date counts too: the scan stops at it with its failure, and the count is no promise.
long long daysToFetch(storage::Database &db, const std::vector<std::string> &links) {
    const long long complete = storage::readSettingInt(storage::keys::compyc);
    long long n = 0;
    for (const std::string &name : links) {
        bool dated = name.size() >= 8;
        for (size_t i = 0; dated && i < 8; ++i)
            dated = name[i] >= '0' && name[i] <= '9';
        if (!name.empty() && (!dated || storedRows(db, std::stoll(name.substr(0, 8))) < complete))
            ++n;
    }
    return n;
}

} // namespace

std::vector<std::string> dayLinks(const std::string &page) {
    std::string text = page;
    replaceAll(text, "<BR>", "<br>");
    std::vector<std::string> links;
    int state = 0;
    for (std::string chunk : splitText(text, "<br>")) {
        if (state == 1 && contains(chunk, "<a href=")) {
            replaceAll(chunk, "\">", "#sep#");
            replaceAll(chunk, "</a>", "#sep#");
            const std::vector<std::string> pieces = splitText(chunk, "#sep#");
            if (pieces.size() < 2)
                throw std::runtime_error("リンクの文字列がありません: " +
                                         singleLine(chunk, kServerTextLimit));
            links.push_back(pieces[1]);
        }
        if (contains(chunk, kDailyStartMarker))
            state = 1;
        if (contains(chunk, kDailyEndMarker))
            state = 2;
    }
    return links;
}

std::string announcementText(const std::string &page) {
    std::string text = page;
    replaceAll(text, kAnnounceStartMarker, kAnnounceEndMarker);
    const std::vector<std::string> pieces = splitText(text, kAnnounceEndMarker);
    if (pieces.size() < 2)
        throw std::runtime_error("お知らせの目印がありません");
    std::string a = pieces[1];
    for (const char *drop : {"<b>", "</b>"})
        replaceAll(a, drop, "");
    // Line breaks come from "<br>" alone; no other control character reaches the message box
    // or the terminal.
    a = withoutControlCharacters(a);
    replaceAll(a, "<br>", "\r\n");
    return a;
}

std::string siteOrigin(const std::string &url) {
    const size_t scheme = url.find("://");
    const size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t path = url.find_first_of("/?#", hostStart);
    return path == std::string::npos ? url : url.substr(0, path);
}

std::string scanDataSite(storage::Database &db, UiPort &port, net::HttpClient &client,
                         const std::function<void()> &setLaterDate, ImportRunState &state) {
    using namespace storage;
    StepLabel step;
    std::string caption;
    try {
        step = "初期";
        caption = port.caption();
        state.reset();

        step = "Tesmo_html取得";
        const std::string indexUrl = readSetting(keys::myhpadd4);
        const std::string indexFile = pathFor(FileKind::Download, kIndexPageFile);
        removeIfExists(indexFile);
        const std::string fetched = net::FetchToFile(indexUrl, port, client, indexFile);
        if (!fetched.empty())
            return debugMode() ? step.text() + fetched : std::string(kSiteUnreachable);

        // The counter and the announcement live on the host of the index page, so that
        // pointing the index page elsewhere (a test site, a mirror) takes them along.
        const std::string origin = siteOrigin(indexUrl);
        step = "Tesmo_html取得(2)";
        net::FetchToFile(origin + kCounterPath, port, client,
                         pathFor(FileKind::Download, kCounterFile));

        step = "Tesmo_html解析";
        const std::string page = readIndexPage(indexFile);
        step = "Tesmo_html解析(2)";
        const std::vector<std::string> links = dayLinks(page);

        const std::string dataUrl = readSetting(keys::myhpad_data4);
        const ProgressScope progress(port);
        CatchUpProgress days(jquants::steadySeconds);
        days.addDays(daysToFetch(db, links));
        long long listed = 0;
        for (const std::string &name : links) {
            ++listed;
            if (name.empty())
                continue;
            // A failed day is skipped and the scan goes on; a stop request ends it here.
            throwIfStopRequested(port);
            step = "Tesmo_html[" + name + "]更新非更新ﾁｪｯｸ";
            const long long day = linkDate(name);
            checkFileName(name);
            if (storedRows(db, day) >= readSettingInt(keys::compyc))
                continue;
            // The user's stop ends the scan between two days; the announcement waits too.
            if (port.stopAfterDayRequested()) {
                port.setCaption(caption);
                state.stop(days.remaining());
                return {};
            }
            days.dayStarted();

            step = "Tesmo_html[" + std::to_string(day) + "]取得";
            const std::string archive = pathFor(FileKind::Download, kArchiveFile);
            removeIfExists(archive);
            const std::string url = dataUrl + name;
            const bool packed = endsWithNoCase(url, ".lzh");
            const std::string dayFile = packed ? name.substr(0, name.size() - 4) : name;
            const std::string dayPath = pathFor(FileKind::Download, dayFile);
            // A day that cannot be fetched is passed over and named in the final message; the
            // next scan offers it again.
            std::string missing = net::FetchToFile(url, port, client, packed ? archive : dayPath);
            throwIfStopRequested(port);
            if (missing.empty() && client.lastStatus() >= 400)
                missing = "HTTP " + std::to_string(client.lastStatus());
            if (missing.empty() && packed) {
                step = "Tesmo_html[" + dayFile + "]lha解凍 ";
                removeIfExists(dayPath);
                // Only the day file comes out of the archive; nothing else it holds is written.
                missing = extractArchive(archive, port, folderFor(FileKind::Download), dayFile);
                if (missing.empty() && !fileExists(dayPath))
                    missing = "圧縮ﾌｧｲﾙの中に " + dayFile + " がありません";
            }
            if (!missing.empty()) {
                removeIfExists(dayPath);
                state.skip(day, missing);
                days.dayEnded();
                continue;
            }

            step = "[" + dayFile + "]";
            port.setCaption(caption + " [" + std::to_string(day) + "] " + days.text());
            port.progress(listed, static_cast<long long>(links.size()));
            port.repaint();
            const std::string imported = importDayFile(db, dayPath, port, day, state);
            if (!imported.empty()) {
                port.setCaption(caption);
                return step.text() + imported;
            }
            if (setLaterDate)
                setLaterDate();
            days.dayEnded();

            step = "Tesmo_html[" + dayFile + "]後処理";
            removeIfExists(dayPath);
            port.setCaption(caption);
        }

        step = "Tesmo_html ｱﾅｳﾝｽ解析";
        std::string announcePage;
        if (!net::FetchToText(origin + kAnnouncePath, port, client, announcePage).empty())
            return {};
        const std::string announcement = announcementText(announcePage);
        port.beep();

        step = "終了処理";
        if (charCount(announcement) > 5) {
            step = "アナウンス出力編集";
            const bool showAlways = readSettingInt(keys::noannounce) == 0;
            const std::string head = firstChars(announcement, 30);
            if (head != readSetting(keys::announcemsg) || showAlways) {
                writeSetting(keys::announcemsg, head);
                port.message("【アナウンスが届いております】\r\n\r\n" + announcement +
                                 "\r\n\r\n※詳しくはTesmoﾎｰﾑﾍﾟｰｼﾞを参照してください",
                             "Tesmoからのお知らせ", MsgIcon::Information, MsgButtons::Ok);
            }
        }
        return {};
    } catch (const std::exception &e) {
        if (!caption.empty())
            port.setCaption(caption);
        return step.failure(kStepFailedPhrase, e.what());
    }
}

} // namespace tesmo::acquire
