#include "core/net/http_fetch.h"

#include "core/common/paths.h"
#include "core/storage/settings_keys.h"
#include "core/storage/settings_store.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace tesmo::net {
namespace {

const char *const kFailPhrase = "時にエラー発生 詳細:";

// A setting read as a whole number, with the reader's own default.
int settingInt(const storage::SettingKey &key, const std::string &defaultValue) {
    const std::string text = storage::readSetting(key, defaultValue);
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    while (end && (*end == ' ' || *end == '\t'))
        ++end;
    if (text.empty() || errno != 0 || !end || *end != '\0' || v < INT32_MIN || v > INT32_MAX)
        throw storage::SettingsError(std::string("設定 ") + key.key +
                                     " の値が数値ではありません: \"" + text + "\"");
    return static_cast<int>(v);
}

int settingInt(const storage::SettingKey &key) {
    return settingInt(key, storage::defaultOf(key));
}

void applyMainProxy(HttpClient &client) {
    using namespace storage;
    if (settingInt(keys::proxychk) == 0) {
        client.accessType = AccessType::Direct;
        client.proxy.clear();
    } else {
        client.accessType = AccessType::NamedProxy;
        client.proxy = readSetting(keys::proxysv);
    }
    client.userName = readSetting(keys::proxyid);
    client.password = readSetting(keys::proxypd);
}

void applyUpdaterProxy(HttpClient &client) {
    using namespace storage;
    const int proxy = settingInt(keys::auto_proxy);
    if (proxy == 0) {
        client.proxy.clear();
        client.accessType = AccessType::Direct;
    } else if (proxy == 1) {
        client.proxy.clear();
        client.accessType = AccessType::Preconfig;
    } else {
        client.proxy = readSetting(keys::auto_setproxy);
        client.accessType = AccessType::NamedProxy;
    }
}

void removeQuietly(const std::string &path) {
    std::error_code ec;
    fs::remove(path, ec);
}

} // namespace

void applyMainSettings(HttpClient &client) {
    applyMainProxy(client);
    client.requestTimeout = settingInt(storage::keys::tosec);
}

std::string tempDownloadName(std::time_t when, int number) {
    std::tm tm{};
    localtime_r(&when, &tm);
    char stamp[32];
    (void)std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d_", tm.tm_mday, tm.tm_hour, tm.tm_min,
                        tm.tm_sec);
    return std::string(stamp) + std::to_string(number) + ".tmp";
}

std::string FetchToFile(const std::string &url, UiPort &port, HttpClient &client,
                        const std::string &outPath, FetchSettings settings) {
    using namespace storage;
    const bool updater = settings == FetchSettings::Updater;
    std::string step;
    std::string caption;
    std::string temp;
    bool captionTaken = false;
    try {
        step = "前処理";
        caption = port.caption();
        captionTaken = true;

        step = "tmpﾌｧｲﾙID作成(乱数)";
        std::mt19937 random(static_cast<unsigned>(
            std::chrono::high_resolution_clock::now().time_since_epoch().count()));
        const int number = std::uniform_int_distribution<int>(1, 512)(random);
        step = "tmpﾌｧｲﾙID作成(日時)";
        temp = pathFor(FileKind::Download, tempDownloadName(std::time(nullptr), number));

        step = "ReTry情報取得";
        const int retimes = settingInt(updater ? keys::auto_retimes : keys::retimes);
        const int resec = settingInt(updater ? keys::auto_resec : keys::resec);

        step = "proxy設定";
        if (updater)
            applyUpdaterProxy(client);
        else
            applyMainProxy(client);

        step = "Time Out設定";
        client.requestTimeout = settingInt(updater ? keys::auto_tosec : keys::tosec);

        step = "URL設定";
        if (updater) {
            step = "UserID設定";
            client.userName = readSetting(keys::auto_userid);
            step = "UserPS設定";
            client.password = readSetting(keys::auto_userps);
            step = "URL設定";
        }

        bool fetched = false;
        for (int i = 0; i <= retimes && !fetched; ++i) {
            if (i > 0) {
                step = "ReTry スリープ";
                port.setCaption(caption + " 再試行中です(" + std::to_string(i) + "/" +
                                std::to_string(retimes) + ")");
                port.repaint();
                port.wait(resec);
            }

            step = "HTTPﾌｧｲﾙﾀﾞｳﾝﾛｰﾄﾞ実行";
            // The body goes straight into the temporary file; it is created even when the
            // body is empty, so that the checks below see what arrived.
            std::ofstream out;
            auto openTemp = [&] {
                out.open(temp, std::ios::binary | std::ios::trunc);
                if (!out)
                    throw std::runtime_error("一時ファイルを作成できません: " + temp);
            };
            client.openUrl(url, port, [&](const char *data, size_t n) {
                if (!out.is_open())
                    openTemp();
                if (!out.write(data, static_cast<std::streamsize>(n)))
                    throw std::runtime_error("一時ファイルに書き込めません: " + temp);
            });

            step = "tmpﾌｧｲﾙ出力";
            if (!out.is_open())
                openTemp();
            out.close();
            if (out.fail())
                throw std::runtime_error("一時ファイルに書き込めません: " + temp);

            step = "tmpﾌｧｲﾙﾁｪｯｸ(1)";
            bool failed = false;
            if (!fileExists(temp)) {
                step = "ﾌｧｲﾙが取得出来ませんでした(1)";
                failed = true;
            }
            // The length check follows a failed existence check too; a missing file then
            // ends the fetch as an error of this step.
            step = "tmpﾌｧｲﾙﾁｪｯｸ(2)";
            const long long length = fileLength(temp);
            if (length < 0)
                throw std::runtime_error("ファイルが見つかりません: " + temp);
            if (length < 1) {
                step = "ﾌｧｲﾙが取得出来ませんでした(2)";
                removeQuietly(temp);
                failed = true;
            }
            fetched = !failed;
        }

        port.setCaption(caption + "処理中。。");
        port.repaint();
        if (!fetched) {
            port.setCaption(caption);
            return step;
        }
        if (!outPath.empty()) {
            step = "tempからコピー";
            fs::copy_file(temp, outPath, fs::copy_options::overwrite_existing);
        }
        step = "tmpクリア";
        fs::remove(temp);
        step = "後処理";
        port.setCaption(caption);
        return {};
    } catch (const std::exception &e) {
        if (captionTaken)
            port.setCaption(caption);
        // A half-written temporary file is of no use to anybody.
        if (!temp.empty())
            removeQuietly(temp);
        return step + kFailPhrase + e.what();
    }
}

std::string FetchToText(const std::string &url, UiPort &port, HttpClient &client,
                        std::string &text) {
    using namespace storage;
    std::string step;
    try {
        step = "前処理";
        step = "ReTry情報取得";
        const int retimes = settingInt(keys::retimes);
        settingInt(keys::resec, "60"); // read for its check; one request never waits
        step = "proxy設定";
        applyMainProxy(client);
        step = "Time Out設定";
        client.requestTimeout = settingInt(keys::tosec);
        step = "URL設定";
        if (retimes < 0)
            return "ReTry ｵｰﾊﾞｰ";
        step = "HTTPﾌｧｲﾙﾀﾞｳﾝﾛｰﾄﾞ実行";
        text = client.openUrlText(url, port);
        return {};
    } catch (const std::exception &e) {
        return step + kFailPhrase + e.what();
    }
}

} // namespace tesmo::net
