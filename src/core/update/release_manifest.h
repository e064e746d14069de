#pragma once
// The signed list of a release: beside its module table the update site publishes
// modules.sha256 (a serial number, then the SHA-256, size and name of every file) and
// modules.sha256.sig (the Ed25519 signature of the list's exact bytes, base64). The updater
// installs only files that the list names with their digest, in a list that the release key
// signed, and never a release older than the one it installed last.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace tesmo::update {

inline constexpr const char *kManifestFile = "modules.sha256";
inline constexpr const char *kSignatureFile = "modules.sha256.sig";
// Far beyond any real list; a server that sends more is not sending a list.
inline constexpr long long kMaxManifestBytes = 1 << 20;

// Whether a file of a release folder belongs to the signed list (the list, its signature or a
// copy of either on its way) rather than to the release it lists; beside the programs, the
// installed list and the journal of an install (release_install.h).
bool partOfSignedList(const std::string &name);

struct ManifestEntry {
    std::string sha256; // 64 lower-case hex digits
    long long size = 0;
    std::string name;
};

struct ReleaseManifest {
    long long serial = 0;
    std::vector<ManifestEntry> files;

    // The entry of exactly this file name, or null.
    const ManifestEntry *find(const std::string &name) const;
};

class ManifestError : public std::runtime_error {
public:
    explicit ManifestError(const std::string &what) : std::runtime_error(what) {}
};

// Reads a list in the format that formatReleaseManifest() writes: "serial N", then one line
// "<sha256> <size> <name>" per file, lines ending in LF. Raises ManifestError for anything
// else, including a name that is not a plain file name, a name of the signed list itself
// (partOfSignedList) and a name listed twice.
ReleaseManifest parseReleaseManifest(const std::string &text);
std::string formatReleaseManifest(const ReleaseManifest &manifest);

// The release public key built into the program (TESMO_RELEASE_PUBKEY). Raises ManifestError
// when the build gave a malformed key, so that nothing can be installed with it.
std::string releasePublicKey();

// Whether `signatureText` (base64, blanks around it allowed) is `publicKey`'s signature of the
// exact bytes of `manifest`. A signature that is missing, cut short or not base64 is not.
bool manifestSignatureMatches(const std::string &manifest, const std::string &signatureText,
                              const std::string &publicKey);

} // namespace tesmo::update
