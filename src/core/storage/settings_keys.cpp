#include "core/storage/settings_keys.h"

#include "core/common/build_config.h"
#include "core/common/paths.h"
#include "core/common/text.h"
#include "core/storage/settings_store.h"

#include <cerrno>
#include <cstdlib>

namespace tesmo::storage {

std::string appNameOf(SettingsApp app) {
    switch (app) {
    case SettingsApp::Main:
        return mainAppName();
    case SettingsApp::UpdaterState:
        return updaterStateAppName();
    case SettingsApp::UpdaterHttp:
        return updaterHttpAppName();
    }
    return mainAppName();
}

namespace {
std::string withoutTrailingSlash(std::string s) {
    while (!s.empty() && s.back() == '/')
        s.pop_back();
    return s;
}
} // namespace

std::string defaultOf(const SettingKey &key) {
    switch (key.kind) {
    case DefaultKind::Text:
        return key.text;
    case DefaultKind::DatabaseFile:
        return pathFor(FileKind::Database, key.text);
    case DefaultKind::InstallDir:
        return installDir();
    case DefaultKind::ProfileDir:
        return profileDir();
    case DefaultKind::DesktopDir:
        return desktopDir();
    case DefaultKind::DataSite:
        return withoutTrailingSlash(TESMO_DATA_SITE) + key.text;
    case DefaultKind::UpdateSite:
        return TESMO_UPDATE_SITE;
    case DefaultKind::RealtimeSite:
        return TESMO_REALTIME_SITE;
    case DefaultKind::InfoSite:
        return TESMO_INFO_SITE;
    case DefaultKind::QuoteSite:
        return TESMO_QUOTE_SITE;
    case DefaultKind::Caller:
        return {};
    }
    return {};
}

std::string readSetting(const SettingKey &key) {
    return readSetting(key, defaultOf(key));
}

std::string readSetting(const SettingKey &key, const std::string &callerDefault) {
    return getSetting(appNameOf(key.app), key.section, key.key, callerDefault);
}

long long readSettingInt(const SettingKey &key) {
    const std::string text = readSetting(key);
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    while (end && (*end == ' ' || *end == '\t'))
        ++end;
    if (text.empty() || errno != 0 || !end || *end != '\0')
        throw SettingsError(std::string("設定 ") + key.key + " の値が数値ではありません: \"" +
                            text + "\"");
    return v;
}

void writeSetting(const SettingKey &key, const std::string &value) {
    saveSetting(appNameOf(key.app), key.section, key.key, value);
}

bool debugMode() {
    return readSetting(keys::debugcode) == kDebugCode;
}

bool jquantsSource() {
    return lowerAscii(readSetting(keys::datasource)) == "jquants";
}

const std::vector<const SettingKey *> &allSettingKeys() {
    using namespace keys;
    static const std::vector<const SettingKey *> all = {
        &nomoremsg,     &autotaskt,      &portopt,        &portfile,
        &def_portdir,   &useridno,       &tesmodatadir,   &compyc,
        &maxdtc,        &myhpadd4,       &myhpad_data4,   &noannounce,
        &announcemsg,   &browser,        &realcspd,       &cpseplt,
        &savecsvdir,    &retimes,        &resec,          &tosec,
        &proxychk,      &proxysv,        &proxyid,        &proxypd,
        &datasource,    &jquantsapi,     &jquantskey,     &jquantsrate,
        &updatesite,    &realtmsite,     &infosite,       &quotesite,
        &mdbpath,       &DB_SIZE,        &debugcode,      &web1wait,
        &first,         &usermdbconfirm, &becon,          &taskttime,
        &mainf_top,     &mainf_left,     &form2_height,   &form2_width,
        &form2_marker,  &form2_style,    &form2_ma,       &form2_candlecolor,
        &ranktb_height, &ranktb_width,   &ranktb_top,     &ranktb_left,
        &F_ranktbsorta, &F_ranktbsortb,  &porttb_height,  &porttb_width,
        &porttb_top,    &porttb_left,    &F_porttbsorta,  &F_porttbsortb,
        &F_porttboptno, &portm_height,   &portm_width,    &portm_top,
        &portm_left,    &F_portmsorta,   &F_portmsortb,   &cnt_F_opt,
        &cnt_F_portM,   &cnt_F_porttb,   &cnt_F_ranktb,   &cnt_Form2,
        &cnt_Form3,     &cnt_F_signal,   &signal_height,  &signal_width,
        &signal_top,    &signal_left,    &release_serial, &release_digest,
        &auto_retimes,  &auto_resec,     &auto_proxy,     &auto_setproxy,
        &auto_tosec,    &auto_userid,    &auto_userps,
    };
    return all;
}

const SettingKey *findSettingKey(SettingsApp app, const std::string &section,
                                 const std::string &key) {
    for (const SettingKey *k : allSettingKeys())
        if (k->app == app && equalsIgnoringAsciiCase(k->section, section) &&
            equalsIgnoringAsciiCase(k->key, key))
            return k;
    return nullptr;
}

} // namespace tesmo::storage
