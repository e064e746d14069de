#pragma once
// The content of the sample data site: a deterministic series of trading days of made-up
// stocks, and the pages that Tesmo reads from a data site and an update site. Everything is
// computed from the options, so two runs with the same options serve the same bytes.
#include "core/acquire/day_record.h"

#include <optional>
#include <string>
#include <vector>

namespace sample_site {

struct SiteOptions {
    long long endDate = 0; // newest trading day, yyyymmdd (a weekday at or before it)
    int days = 10;         // trading days listed on the index page
    int stocks = 3800;
    std::string announcement = "サンプルデータサイトからのお知らせです。<br>"
                               "ここのデータは<b>自動生成</b>された架空の銘柄のものです。";
    // The release on the update site: the files of this folder, listed in the module table
    // with `releaseStamp`. Unless the folder holds its own signed list, the site signs its
    // files as they are at start-up with the development key and `releaseSerial`. Without a
    // folder the site publishes no files, and signs that empty list.
    std::string releaseDir;
    long long releaseSerial = 1;
    std::string releaseStamp = "108050100";
};

// An answer of the site.
struct Reply {
    int status = 200;
    std::string contentType;
    std::string body;
};

class SampleSite {
public:
    // Raises std::runtime_error when the release folder cannot be read or signed.
    explicit SampleSite(SiteOptions options);

    // The trading days, newest first (the index page lists them oldest first).
    const std::vector<long long> &tradingDays() const { return m_days; }
    // Whether the site delivers the day packed (".bnd.lzh") or plain (".bnd").
    bool packed(long long date) const;
    // The link text (file name) of a day on the index page.
    std::string dayFileName(long long date) const;

    // The bytes of a day file, as the day-file writer writes it.
    std::string dayFile(long long date) const;

    // The answer to GET `path` (without the query); 404 for everything the site lacks.
    Reply get(const std::string &path) const;

    std::string indexPage() const;        // UTF-8; served in code page 932
    std::string announcementPage() const; // UTF-8; served in code page 932
    std::string moduleTablePage() const;

    static const char *indexPath() { return "/cgi-bin/freedata/index.cgi"; }
    static const char *dataPath() { return "/freedata/"; }

private:
    std::vector<std::string> releaseFiles() const;
    Reply releaseFile(const std::string &name) const;

    SiteOptions m_options;
    std::vector<long long> m_days;
    std::string m_manifest; // the list the site signed, and its signature
    std::string m_signature;
};

// Stock i of the series on `date`: code (1301 + 2i), name and market stay the same from day to
// day; price, volume and topic count move.
tesmo::acquire::DayRecord sampleStock(int i, long long date);

// The number of trading days up to `endDate` that takes in all of its month and the last
// `previousMonthDays` of the month before: after the first data update the database then
// holds two months, so every ranking column (the previous month's average volume too) has
// values.
int daysIntoPreviousMonth(long long endDate, int previousMonthDays = 5);

// The last weekday before `today` (yyyymmdd), so that the demo's data look current.
long long lastTradingDayBefore(long long today);

} // namespace sample_site
