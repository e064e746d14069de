#include "core/shell/first_start.h"

#include "core/common/text.h"
#include "core/shell/options.h"
#include "core/storage/settings_keys.h"

#include <unistd.h>

#include <cstdlib>

namespace tesmo::shell {
namespace {

namespace keys = storage::keys;
using storage::readSetting;
using storage::writeSetting;

bool endsWith(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The host part of a URL ("http://user@host:8080/path" gives "host"), in lower case.
std::string hostOf(const std::string &url) {
    const size_t scheme = url.find("://");
    size_t begin = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t end = url.find_first_of("/?#", begin);
    std::string authority = url.substr(begin, end == std::string::npos ? end : end - begin);
    if (const size_t at = authority.rfind('@'); at != std::string::npos)
        authority.erase(0, at + 1);
    if (!authority.empty() && authority.front() == '[') // an IPv6 literal keeps its colons
        return lowerAscii(authority.substr(0, authority.find(']') + 1));
    return lowerAscii(authority.substr(0, authority.find(':')));
}

} // namespace

bool placeholderHost(const std::string &url) {
    std::string host = hostOf(url);
    while (!host.empty() && host.back() == '.')
        host.pop_back();
    if (host.empty())
        return true;
    for (const char *reserved : {"example", "invalid", "test"})
        if (host == reserved || endsWith(host, std::string(".") + reserved))
            return true;
    for (const char *second : {"example.com", "example.net", "example.org"})
        if (host == second || endsWith(host, std::string(".") + second))
            return true;
    return false;
}

SourceState sourceState() {
    if (storage::jquantsSource())
        return readSetting(keys::jquantskey).empty() ? SourceState::JQuantsKeyMissing
                                                     : SourceState::JQuants;
    return placeholderHost(readSetting(keys::myhpadd4)) ? SourceState::DataSiteUnset
                                                        : SourceState::DataSite;
}

bool sourceUsable(SourceState state) {
    return state == SourceState::DataSite || state == SourceState::JQuants;
}

std::string sourceText(SourceState state) {
    switch (state) {
    case SourceState::DataSite:
        return "データサイト";
    case SourceState::DataSiteUnset:
        return "データサイト (未設定)";
    case SourceState::JQuants:
        return "J-Quants";
    case SourceState::JQuantsKeyMissing:
        return "J-Quants (キー未設定)";
    }
    return {};
}

bool welcomeWanted() {
    return readSetting(keys::first) == "0" || !sourceUsable(sourceState());
}

std::string saveSourceChoice(const SourceChoice &choice) {
    if (choice.jquants) {
        if (choice.key.find_first_not_of(" \t") == std::string::npos)
            return "APIキーを入力してください。";
        if (!rateNumber(choice.rate))
            return "[ﾘｸｴｽﾄ数/分]には1以上の数値を入力してください。";
        writeSetting(keys::jquantskey, choice.key);
        writeSetting(keys::jquantsrate, choice.rate);
    }
    writeSetting(keys::datasource, choice.jquants ? "jquants" : "site");
    return {};
}

bool testSourceChoice(const SourceChoice &choice, UiPort &port) {
    OptionValues values;
    values.jquants = true;
    values.jquantskey = choice.key;
    values.jquantsrate = choice.rate;
    return testJQuantsConnection(values, port);
}

bool pageOpenerAvailable() {
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= dirs.size()) {
        size_t end = dirs.find(':', begin);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string dir = end > begin ? dirs.substr(begin, end - begin) : ".";
        if (::access((dir + "/xdg-open").c_str(), X_OK) == 0)
            return true;
        begin = end + 1;
    }
    return false;
}

} // namespace tesmo::shell
