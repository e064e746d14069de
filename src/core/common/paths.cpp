#include "core/common/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace tesmo {
namespace {
std::string &installOverride() {
    static std::string dir;
    return dir;
}

std::optional<bool> &writableOverride() {
    static std::optional<bool> writable;
    return writable;
}

std::string envOr(const char *name, const std::string &fallback) {
    const char *v = std::getenv(name);
    return (v && *v) ? std::string(v) : fallback;
}

// An XDG base folder: the XDG Base Directory rules say that a relative path in these variables
// is invalid and ignored. Taken as it stands it would name another folder for each working
// folder, and two programs would use two databases.
std::string xdgBase(const char *name, const std::string &fallback) {
    const char *v = std::getenv(name);
    return (v && v[0] == '/') ? std::string(v) : fallback;
}

// Reads XDG_DESKTOP_DIR from user-dirs.dirs; "$HOME/Desktop" style values are expanded.
std::string xdgDesktopDir(const std::string &home) {
    const std::string file =
        joinPath(xdgBase("XDG_CONFIG_HOME", joinPath(home, ".config")), "user-dirs.dirs");
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DESKTOP_DIR=";
        if (line.rfind(key, 0) != 0)
            continue;
        std::string v = line.substr(key.size());
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.substr(1, v.size() - 2);
        if (v.rfind("$HOME", 0) == 0)
            v = home + v.substr(5);
        return v;
    }
    return {};
}
} // namespace

std::string joinPath(const std::string &dir, const std::string &name) {
    if (dir.empty())
        return name;
    if (dir.back() == '/')
        return dir + name;
    return dir + "/" + name;
}

void setInstallDirOverride(const std::string &dir) {
    installOverride() = dir;
}

std::string installDir() {
    if (!installOverride().empty())
        return installOverride();
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return fs::current_path(ec).string();
    return exe.parent_path().string();
}

std::string installPath(const std::string &name) {
    return joinPath(installDir(), name);
}

bool programFolderWritable() {
    if (writableOverride())
        return *writableOverride();
    return ::access(installDir().c_str(), W_OK) == 0 &&
           !fileExists(installPath(kSystemInstallMarker));
}

void setProgramFolderWritableOverride(std::optional<bool> writable) {
    writableOverride() = writable;
}

std::string userDataDir() {
    return joinPath(xdgBase("XDG_DATA_HOME", joinPath(profileDir(), ".local/share")), "tesmo");
}

std::string folderFor(FileKind kind) {
    if (kind == FileKind::Program || programFolderWritable())
        return installDir();
    std::string dir = userDataDir();
    std::error_code ec;
    // A folder that cannot be made is reported by the first file that is written there.
    fs::create_directories(dir, ec);
    return dir;
}

std::string pathFor(FileKind kind, const std::string &name) {
    return joinPath(folderFor(kind), name);
}

std::string profileDir() {
    return envOr("HOME", "/");
}

std::string desktopDir() {
    std::string home = profileDir();
    std::error_code ec;
    std::string japanese = joinPath(home, "デスクトップ");
    if (fs::is_directory(japanese, ec))
        return japanese;
    std::string xdg = xdgDesktopDir(home);
    if (!xdg.empty() && fs::is_directory(xdg, ec))
        return xdg;
    return home;
}

std::string settingsDir() {
    return joinPath(xdgBase("XDG_CONFIG_HOME", joinPath(profileDir(), ".config")), "tesmo");
}

bool fileExists(const std::string &path) {
    std::error_code ec;
    return !path.empty() && fs::exists(path, ec);
}

long long fileLength(const std::string &path) {
    std::error_code ec;
    const auto n = fs::file_size(path, ec);
    return ec ? -1 : static_cast<long long>(n);
}

std::string readFileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("ファイルを開けません: " + path);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw std::runtime_error("ファイルを読めません: " + path);
    return bytes;
}

std::string readFileCapped(const std::string &path, long long maxBytes) {
    // O_NONBLOCK: opening a pipe must not wait for a writer; regular files ignore it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("ファイルを開けません: " + path + " (" + std::strerror(errno) +
                                 ")");
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    const std::string tooLong = "ファイルが上限(" + std::to_string(maxBytes / 1000000) +
                                "MB)を超えているため読み込みません: " + path;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw std::runtime_error("通常のファイルではないため読み込みません: " + path);
    if (st.st_size > maxBytes)
        throw std::runtime_error(tooLong);
    std::string bytes;
    bytes.reserve(static_cast<size_t>(st.st_size));
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::runtime_error("ファイルを読めません: " + path + " (" + std::strerror(errno) +
                                     ")");
        if (n == 0)
            return bytes;
        // The file may grow while it is read.
        if (static_cast<long long>(bytes.size()) + n > maxBytes)
            throw std::runtime_error(tooLong);
        bytes.append(buf, static_cast<size_t>(n));
    }
}

PrivateFolder::PrivateFolder(std::string pattern) {
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("一時フォルダを作成できません: " + pattern + " (" +
                                 std::strerror(errno) + ")");
    m_path = std::move(pattern);
}

PrivateFolder::~PrivateFolder() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

} // namespace tesmo
