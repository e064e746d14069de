#include "core/update/release_publish.h"

#include "core/common/crypto.h"
#include "core/common/paths.h"
#include "core/update/version_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

namespace tesmo::update {
namespace {

// Creates `path` with `mode`, never over an existing file, and writes `text` into it.
void writeNewFile(const std::string &path, const std::string &text, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        throw std::runtime_error("ファイルを作成できません: " + path + " (" + std::strerror(errno) +
                                 ")");
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (::close(fd) != 0 || !written)
        throw std::runtime_error("ファイルに書き込めません: " + path);
}

// Replaces `path` in one step, so that the site never serves half a list.
void replaceFile(const std::string &path, const std::string &text) {
    const std::string temp = path + ".new-" + std::to_string(::getpid());
    fs::remove(temp);
    writeNewFile(temp, text, 0644);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        fs::remove(temp);
        throw std::runtime_error("ファイルを置き換えられません: " + path);
    }
}

long long currentMinuteSerial() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    return (tm.tm_year + 1900) * 100000000LL + (tm.tm_mon + 1) * 1000000LL + tm.tm_mday * 10000LL +
           tm.tm_hour * 100LL + tm.tm_min;
}

} // namespace

void writeReleaseKeyPair(const std::string &secretPath, const std::string &publicPath) {
    for (const std::string &path : {secretPath, publicPath})
        if (fs::exists(fs::symlink_status(path)))
            throw std::runtime_error("既にあるファイルは置き換えません: " + path);
    const crypto::SigningKeyPair pair = crypto::newSigningKeyPair();
    writeNewFile(secretPath, crypto::toBase64(pair.secretKey) + "\n", 0600);
    writeNewFile(publicPath, crypto::toBase64(pair.publicKey) + "\n", 0644);
}

std::string readReleaseSecretKey(const std::string &path) {
    std::string key;
    try {
        key = crypto::fromBase64(readFileBytes(path));
    } catch (const crypto::CryptoError &) {
    }
    if (key.size() != crypto::kSecretKeyBytes)
        throw std::runtime_error("署名用の秘密鍵ではありません: " + path);
    return key;
}

ReleaseManifest manifestOfFolder(const std::string &dir, long long serial) {
    ReleaseManifest manifest;
    manifest.serial = serial;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || partOfSignedList(name))
            continue;
        if (!safeModuleName(name))
            throw std::runtime_error("更新サイトに置けないファイル名です: " + name);
        const std::string path = entry.path().string();
        manifest.files.push_back({crypto::sha256FileHex(path), fileLength(path), name});
    }
    std::sort(manifest.files.begin(), manifest.files.end(),
              [](const ManifestEntry &a, const ManifestEntry &b) { return a.name < b.name; });
    return manifest;
}

SignedManifest signManifest(const ReleaseManifest &manifest, const std::string &secretKey) {
    SignedManifest out;
    out.text = formatReleaseManifest(manifest);
    out.signature = crypto::toBase64(crypto::signDetached(out.text, secretKey)) + "\n";
    return out;
}

ReleaseManifest signReleaseFolder(const std::string &secretKeyPath, const std::string &dir,
                                  std::optional<long long> serial, bool forceSerial) {
    const std::string secretKey = readReleaseSecretKey(secretKeyPath);
    const std::string previousPath = joinPath(dir, kManifestFile);
    std::optional<std::string> previousText;
    std::optional<long long> previous;
    if (fs::exists(previousPath)) {
        try {
            previousText = readFileBytes(previousPath);
            previous = parseReleaseManifest(*previousText).serial;
        } catch (const std::exception &) {
            // an unreadable old list says nothing about the serial
        }
    }
    if (!serial) {
        serial = currentMinuteSerial();
        if (previous)
            serial = std::max(*serial, *previous + 1);
    }
    ReleaseManifest manifest = manifestOfFolder(dir, *serial);
    const SignedManifest signedManifest = signManifest(manifest, secretKey);
    // Two lists with one serial are two releases that an updater cannot tell apart: it would
    // refuse the second.
    if (previous && *serial <= *previous && signedManifest.text != *previousText && !forceSerial)
        throw std::runtime_error(
            "serial " + std::to_string(*serial) + " は、このフォルダで前回署名した serial " +
            std::to_string(*previous) + " より大きくなければなりません (--force-serial)");
    // The list first: until the new signature follows, the pair does not match, and an updater
    // that asks in between refuses instead of installing.
    replaceFile(joinPath(dir, kManifestFile), signedManifest.text);
    replaceFile(joinPath(dir, kSignatureFile), signedManifest.signature);
    return manifest;
}

} // namespace tesmo::update
