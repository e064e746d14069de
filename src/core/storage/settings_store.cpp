#include "core/storage/settings_store.h"

#include "core/common/paths.h"
#include "core/common/text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <unordered_map>

namespace fs = std::filesystem;

namespace tesmo::storage {

const char *const kSettingsId = "ts1";

std::string mainAppName() {
    return std::string("Tesmo_") + kSettingsId;
}
std::string updaterStateAppName() {
    return std::string("tesmo_auto") + kSettingsId;
}
std::string updaterHttpAppName() {
    return std::string("tesmo_auto_") + kSettingsId;
}

namespace {

struct Section {
    std::string name;
    SettingPairs pairs;
};
using Store = std::vector<Section>;

// Names escape the characters that the line format gives a meaning to (a ';' or '#' that
// begins a line makes it a comment); values only the line breaks and the escape character.
std::string escape(const std::string &s, bool name) {
    static const char *hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        const bool startsComment = out.empty() && (c == ';' || c == '#');
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (name && (c == '=' || c == '[' || c == ']' || c < 0x20 || startsComment)) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else
            out += static_cast<char>(c);
    }
    return out;
}

std::string unescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        const char n = s[++i];
        if (n == 'n')
            out += '\n';
        else if (n == 'r')
            out += '\r';
        else if (n == 'x' && i + 2 < s.size() &&
                 std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
                 std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else
            out += n;
    }
    return out;
}

// Lines that cannot be read (a hand-edited file) are skipped; the rest is kept. Names are
// found through an index by their lower-case form, so that reading is linear in the file's
// size: a long updater section took seconds when every key was compared with all before it.
Store parse(const std::string &text) {
    Store store;
    std::unordered_map<std::string, size_t> sectionIndex;
    std::vector<std::unordered_map<std::string, size_t>> keyIndex;
    size_t current = 0;
    bool inSection = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            const std::string name = unescape(line.substr(1, line.size() - 2));
            const auto [it, added] = sectionIndex.try_emplace(lowerAscii(name), store.size());
            if (added) {
                store.push_back({name, {}});
                keyIndex.emplace_back();
            }
            current = it->second;
            inSection = true;
            continue;
        }
        const size_t eq = line.find('=');
        if (!inSection || eq == std::string_view::npos || eq == 0)
            continue;
        std::string key = unescape(line.substr(0, eq));
        std::string value = unescape(line.substr(eq + 1));
        SettingPairs &pairs = store[current].pairs;
        const auto [it, added] = keyIndex[current].try_emplace(lowerAscii(key), pairs.size());
        if (added)
            pairs.emplace_back(std::move(key), std::move(value));
        else
            pairs[it->second].second = std::move(value);
    }
    return store;
}

std::string serialise(const Store &store) {
    std::string out;
    for (const Section &s : store) {
        out += "[" + escape(s.name, true) + "]\n";
        for (const auto &[k, v] : s.pairs)
            out += escape(k, true) + "=" + escape(v, false) + "\n";
        out += "\n";
    }
    return out;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

Store load(const std::string &app) {
    return parse(readFile(settingsFilePath(app)));
}

std::string fileNameFor(const std::string &app) {
    std::string name;
    for (char c : app)
        name += (c == '/' || c == '\0') ? '_' : c;
    return name.empty() || name == "." || name == ".." ? "_" + name : name;
}

// Runs `change` on the store of `app` under the app's lock and writes the result atomically.
template <typename Change> void modify(const std::string &app, Change change) {
    const std::string dir = settingsDir();
    std::error_code ec;
    fs::create_directories(dir, ec);
    const std::string path = settingsFilePath(app);
    const std::string lockPath = path + ".lock";
    const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0)
        throw SettingsError("設定ファイルをロックできません: " + lockPath + " (" +
                            std::strerror(errno) + ")");
    while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct Unlock {
        int fd;
        ~Unlock() {
            ::flock(fd, LOCK_UN);
            ::close(fd);
        }
    } unlock{lockFd};

    Store store = parse(readFile(path));
    change(store);
    const std::string tmp = path + ".tmp." + std::to_string(::getpid());
    // The file holds the proxy password and the J-Quants key: only its owner may read it. The
    // new file replaces the old one, so it is made with that mode before anything is written.
    if (const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << serialise(store);
        out.flush();
        if (!out)
            throw SettingsError("設定ファイルに書き込めません: " + tmp);
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string err = std::strerror(errno);
        (void)std::remove(tmp.c_str()); // the rename's failure is the one to report
        throw SettingsError("設定ファイルを保存できません: " + path + " (" + err + ")");
    }
}

} // namespace

std::string settingsFilePath(const std::string &app) {
    return joinPath(settingsDir(), fileNameFor(app) + ".conf");
}

std::string getSetting(const std::string &app, const std::string &section, const std::string &key,
                       const std::string &defaultValue) {
    const Store store = load(app);
    for (const Section &s : store)
        if (equalsIgnoringAsciiCase(s.name, section))
            for (const auto &[k, v] : s.pairs)
                if (equalsIgnoringAsciiCase(k, key))
                    return v;
    return defaultValue;
}

void saveSetting(const std::string &app, const std::string &section, const std::string &key,
                 const std::string &value) {
    if (section.empty() || key.empty())
        throw SettingsError("設定のセクションとキーを指定してください。");
    modify(app, [&](Store &store) {
        Section *target = nullptr;
        for (Section &s : store)
            if (equalsIgnoringAsciiCase(s.name, section))
                target = &s;
        if (!target) {
            store.push_back({section, {}});
            target = &store.back();
        }
        for (auto &[k, v] : target->pairs)
            if (equalsIgnoringAsciiCase(k, key)) {
                v = value;
                return;
            }
        target->pairs.emplace_back(key, value);
    });
}

void deleteSettingSection(const std::string &app, const std::string &section) {
    bool found = false;
    modify(app, [&](Store &store) {
        for (auto it = store.begin(); it != store.end(); ++it)
            if (equalsIgnoringAsciiCase(it->name, section)) {
                store.erase(it);
                found = true;
                return;
            }
    });
    if (!found)
        throw SettingsError("設定のセクションがありません: " + section);
}

std::optional<SettingPairs> getAllSettings(const std::string &app, const std::string &section) {
    const Store store = load(app);
    for (const Section &s : store)
        if (equalsIgnoringAsciiCase(s.name, section))
            return s.pairs;
    return std::nullopt;
}

} // namespace tesmo::storage
