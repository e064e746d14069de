// tesmo-sample-site: a data site and update site on the loopback interface, for the demo and
// the tests. It serves what sample_site.h computes; nothing leaves this machine.
#include "jquants_site.h"
#include "sample_site.h"

#include "core/storage/settings_keys.h"
#include "core/update/version_check.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>

namespace {

const char *const kUsage =
    "usage: tesmo-sample-site [--port N] [--end YYYYMMDD] [--days N] [--stocks N]\n"
    "                         [--announce TEXT] [--release DIR [--serial N]]\n"
    "                         [--port-file FILE] [--configure] [--quiet]\n"
    "                         [--jquants [--key KEY] [--rate N] [--page-size N]\n"
    "                                    [--plan-end YYYYMMDD] [--split YYYYMMDD|none]\n"
    "                                    [--fault NAME [--fault-pages N] [--fault-bytes N]]]\n"
    "\n"
    "Serves a data site and an update site on 127.0.0.1 (port 0: any free port).\n"
    "  --end        newest trading day (default: the last weekday before today)\n"
    "  --days       trading days on the index page (default: the month of the newest day\n"
    "               and the last 5 of the month before)\n"
    "  --stocks     stocks per day (default 3800)\n"
    "  --announce   the announcement text (\"<br>\" breaks a line)\n"
    "  --release    publish the files of DIR on the update site, stamped an hour ago; signed\n"
    "               at start-up with the development key and serial N, unless DIR holds its\n"
    "               own modules.sha256 (tesmoctl release-sign); without --serial every start\n"
    "               signs a new serial (the time in microseconds since 1970), so that an\n"
    "               updater takes a changed folder for a newer release\n"
    "  --port-file  write the port there once the site listens\n"
    "  --configure  point the current user's Tesmo settings (myhpadd4, myhpad_data4,\n"
    "               updatesite; with --jquants also datasource, jquantsapi, jquantskey,\n"
    "               jquantsrate) at this site\n"
    "  --jquants    also serve the same series as a J-Quants API V2 stand-in under /v2:\n"
    "               trading calendar, issue master and daily bars, business days up to --end\n"
    "  --key        the API key it accepts (default tesmo-sample-key); others get 403\n"
    "  --rate       requests per minute before it answers 429 (default 120, 0: no limit)\n"
    "  --page-size  rows per page (default 1000)\n"
    "  --plan-end   dates after this answer 400, as on a delayed plan (Free: 12 weeks)\n"
    "  --split      the ex-date of the 1:2 split of 1305 (AdjFactor 0.5; default: the tenth\n"
    "               business day before --end; none: no split)\n"
    "  --fault      answer as a broken server would, to try a client: future-row,\n"
    "               other-day-row, loose-row, number-code, text-close, text-volume,\n"
    "               repeated-row, hole, key-loop, endless-pages, many-pages, huge-page,\n"
    "               long-message (these spoil the bars of the business day before --end),\n"
    "               control-names, empty-calendar, full-width-holdiv, number-holdiv,\n"
    "               blank-holdiv\n"
    "  --fault-pages  pages of many-pages (default 1100)\n"
    "  --fault-bytes  bytes of a page of many-pages (default 500000), of huge-page\n"
    "               (default 190000000) or of the message of long-message (default 7000000)\n"
    "  --quiet      print neither the address nor the requests\n";

long long today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return (tm.tm_year + 1900) * 10000LL + (tm.tm_mon + 1) * 100LL + tm.tm_mday;
}

bool number(const char *text, long long &out) {
    char *end = nullptr;
    out = std::strtoll(text, &end, 10);
    return *text && end && *end == '\0';
}

} // namespace

int main(int argc, char **argv) {
    sample_site::SiteOptions options;
    long long port = 8931;
    std::string portFile;
    bool configure = false;
    bool quiet = false;
    bool jquants = false;
    bool daysGiven = false;
    sample_site::JQuantsOptions api;
    options.endDate = sample_site::lastTradingDayBefore(today());
    // Files of the current hour are not offered yet; an hour ago they are.
    options.releaseStamp = std::to_string(tesmo::update::hourStamp(std::time(nullptr) - 3600));
    // An updater accepts a serial it installed before only for the very same list.
    options.releaseSerial = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        long long v = 0;
        const bool hasValue = i + 1 < argc;
        if (a == "--configure") {
            configure = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--port" && hasValue && number(argv[++i], v) && v >= 0 && v < 65536) {
            port = v;
        } else if (a == "--end" && hasValue && number(argv[++i], v) && v > 19000101) {
            options.endDate = v;
        } else if (a == "--days" && hasValue && number(argv[++i], v) && v > 0 && v <= 1000) {
            options.days = static_cast<int>(v);
            daysGiven = true;
        } else if (a == "--stocks" && hasValue && number(argv[++i], v) && v > 0) {
            options.stocks = static_cast<int>(v);
        } else if (a == "--release" && hasValue) {
            options.releaseDir = argv[++i];
        } else if (a == "--serial" && hasValue && number(argv[++i], v) && v >= 0) {
            options.releaseSerial = v;
        } else if (a == "--announce" && hasValue) {
            options.announcement = argv[++i];
        } else if (a == "--port-file" && hasValue) {
            portFile = argv[++i];
        } else if (a == "--jquants") {
            jquants = true;
        } else if (a == "--key" && hasValue) {
            api.key = argv[++i];
        } else if (a == "--rate" && hasValue && number(argv[++i], v) && v >= 0) {
            api.rate = static_cast<int>(v);
        } else if (a == "--page-size" && hasValue && number(argv[++i], v) && v > 0) {
            api.pageSize = static_cast<int>(v);
        } else if (a == "--plan-end" && hasValue && number(argv[++i], v) && v > 19000101) {
            api.planEnd = v;
        } else if (a == "--split" && hasValue && std::string(argv[i + 1]) == "none") {
            api.splitDate = -1;
            ++i;
        } else if (a == "--split" && hasValue && number(argv[++i], v) && v > 19000101) {
            api.splitDate = v;
        } else if (a == "--fault" && hasValue && sample_site::faultNamed(argv[i + 1])) {
            api.fault = *sample_site::faultNamed(argv[++i]);
        } else if (a == "--fault-pages" && hasValue && number(argv[++i], v) && v > 0 &&
                   v < 1000000) {
            api.faultPages = static_cast<int>(v);
        } else if (a == "--fault-bytes" && hasValue && number(argv[++i], v) && v > 0) {
            api.faultBytes = v;
        } else {
            (void)std::fputs(kUsage, a == "--help" || a == "-h" ? stdout : stderr);
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }

    if (!daysGiven)
        options.days = sample_site::daysIntoPreviousMonth(options.endDate);
    try {
        const sample_site::SampleSite site(options);
        api.endDate = options.endDate;
        api.stocks = options.stocks;
        sample_site::JQuantsSite jquantsSite(api);
        httplib::Server server;
        const std::string apiBase = sample_site::JQuantsSite::basePath();
        server.Get(".*", [&](const httplib::Request &req, httplib::Response &res) {
            sample_site::Reply reply;
            if (jquants && req.path.rfind(apiBase + "/", 0) == 0) {
                std::map<std::string, std::string> params(req.params.begin(), req.params.end());
                reply = jquantsSite.get(req.path, params, req.get_header_value("x-api-key"),
                                        req.get_header_value("Accept-Encoding"));
            } else {
                reply = site.get(req.path);
            }
            res.status = reply.status;
            res.set_content(reply.body, reply.contentType);
        });
        if (!quiet)
            server.set_logger([](const httplib::Request &req, const httplib::Response &res) {
                std::printf("%s %s %d %zu\n", req.method.c_str(), req.target.c_str(), res.status,
                            res.body.size());
                (void)std::fflush(stdout);
            });
        const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                                    : (server.bind_to_port("127.0.0.1", static_cast<int>(port))
                                           ? static_cast<int>(port)
                                           : -1);
        if (bound <= 0) {
            (void)std::fprintf(stderr, "tesmo-sample-site: cannot listen on 127.0.0.1:%lld\n",
                               port);
            return 1;
        }
        const std::string base = "http://127.0.0.1:" + std::to_string(bound);
        if (configure) {
            using namespace tesmo::storage;
            writeSetting(keys::myhpadd4, base + sample_site::SampleSite::indexPath());
            writeSetting(keys::myhpad_data4, base + sample_site::SampleSite::dataPath());
            writeSetting(keys::updatesite, base);
            if (jquants) {
                writeSetting(keys::datasource, "jquants");
                writeSetting(keys::jquantsapi, base + apiBase);
                writeSetting(keys::jquantskey, api.key);
                writeSetting(keys::jquantsrate, std::to_string(api.rate > 0 ? api.rate : 500));
            }
        }
        if (!portFile.empty()) {
            const std::string temp = portFile + ".tmp";
            std::ofstream out(temp);
            out << bound << "\n";
            out.close();
            // Whoever waits for the port file would wait for ever.
            if (!out || std::rename(temp.c_str(), portFile.c_str()) != 0) {
                (void)std::fprintf(stderr, "tesmo-sample-site: cannot write %s\n",
                                   portFile.c_str());
                return 1;
            }
        }
        if (!quiet) {
            std::printf("tesmo-sample-site: %s%s (%d days to %lld, %d stocks)\n", base.c_str(),
                        sample_site::SampleSite::indexPath(), options.days, options.endDate,
                        options.stocks);
            if (jquants)
                std::printf("tesmo-sample-site: J-Quants API V2 stand-in %s%s (%d requests per "
                            "minute, %d rows per page)\n",
                            base.c_str(), apiBase.c_str(), api.rate, api.pageSize);
            (void)std::fflush(stdout);
        }
        return server.listen_after_bind() ? 0 : 1;
    } catch (const std::exception &e) {
        (void)std::fprintf(stderr, "tesmo-sample-site: %s\n", e.what());
        return 1;
    }
}
