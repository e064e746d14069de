#include "core/update/release_manifest.h"

#include "core/common/build_config.h"
#include "core/common/crypto.h"
#include "core/update/version_check.h"

#include <set>

namespace tesmo::update {
namespace {

constexpr size_t kDigestLength = 64;

bool digitsOnly(const std::string &s, size_t maxLength) {
    if (s.empty() || s.size() > maxLength)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool lowerHex(const std::string &s) {
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return s.size() == kDigestLength;
}

[[noreturn]] void malformed(size_t line, const std::string &what) {
    throw ManifestError(std::to_string(line) + "行目: " + what);
}

} // namespace

bool partOfSignedList(const std::string &name) {
    return name.rfind(kManifestFile, 0) == 0;
}

const ManifestEntry *ReleaseManifest::find(const std::string &name) const {
    for (const ManifestEntry &e : files)
        if (e.name == name)
            return &e;
    return nullptr;
}

ReleaseManifest parseReleaseManifest(const std::string &text) {
    if (static_cast<long long>(text.size()) > kMaxManifestBytes)
        throw ManifestError("ファイル一覧が大きすぎます");
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    if (lines.empty())
        throw ManifestError("ファイル一覧が空です");

    ReleaseManifest manifest;
    // Eighteen digits always fit a long long, and no serial needs more.
    const std::string serialTag = "serial ";
    if (lines[0].rfind(serialTag, 0) != 0 || !digitsOnly(lines[0].substr(serialTag.size()), 18))
        malformed(1, "\"serial <番号>\" ではありません");
    manifest.serial = std::stoll(lines[0].substr(serialTag.size()));

    std::set<std::string> names;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        const size_t sizeStart = kDigestLength + 1;
        const size_t nameStart = line.find(' ', sizeStart);
        if (line.size() <= sizeStart || line[kDigestLength] != ' ' ||
            nameStart == std::string::npos)
            malformed(i + 1, "\"<SHA-256> <サイズ> <ファイル名>\" ではありません");
        ManifestEntry entry;
        entry.sha256 = line.substr(0, kDigestLength);
        const std::string size = line.substr(sizeStart, nameStart - sizeStart);
        entry.name = line.substr(nameStart + 1);
        if (!lowerHex(entry.sha256))
            malformed(i + 1, "SHA-256 が16進数64桁ではありません");
        if (!digitsOnly(size, 15))
            malformed(i + 1, "サイズが数値ではありません");
        entry.size = std::stoll(size);
        // The names become file names in the install folder.
        if (!safeModuleName(entry.name))
            malformed(i + 1, "ファイル名が不正です: " + entry.name);
        // Beside the programs these names hold the installed list and the install's journal.
        if (partOfSignedList(entry.name))
            malformed(i + 1, "署名されたファイル一覧の名前です: " + entry.name);
        if (!names.insert(entry.name).second)
            malformed(i + 1, "ファイル名が重複しています: " + entry.name);
        manifest.files.push_back(std::move(entry));
    }
    return manifest;
}

std::string formatReleaseManifest(const ReleaseManifest &manifest) {
    std::string text = "serial " + std::to_string(manifest.serial) + "\n";
    for (const ManifestEntry &e : manifest.files)
        text += e.sha256 + " " + std::to_string(e.size) + " " + e.name + "\n";
    return text;
}

std::string releasePublicKey() {
    try {
        std::string key = crypto::fromBase64(TESMO_RELEASE_PUBKEY);
        if (key.size() == crypto::kPublicKeyBytes)
            return key;
    } catch (const crypto::CryptoError &) {
    }
    throw ManifestError("組み込みの公開鍵が不正です");
}

bool manifestSignatureMatches(const std::string &manifest, const std::string &signatureText,
                              const std::string &publicKey) {
    try {
        return crypto::verifyDetached(manifest, crypto::fromBase64(signatureText), publicKey);
    } catch (const crypto::CryptoError &) {
        return false;
    }
}

} // namespace tesmo::update
