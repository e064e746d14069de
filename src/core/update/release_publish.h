#pragma once
// Publishing a release: the signer's key pair, and the signed list of a folder's files that
// the update site serves beside its module table (release_manifest.h).
#include "core/update/release_manifest.h"

#include <optional>
#include <string>

namespace tesmo::update {

// Writes a new key pair, each key as one line of base64: the secret key readable by its owner
// only. Refuses to replace an existing file (a lost release key cannot be replaced).
// Raises std::runtime_error.
void writeReleaseKeyPair(const std::string &secretPath, const std::string &publicPath);

// The secret key in a file that writeReleaseKeyPair() wrote. Raises std::runtime_error.
std::string readReleaseSecretKey(const std::string &path);

// The list of every plain file in `dir` (sorted by name; the list and its signature left out)
// with the given serial. Raises std::runtime_error, also for a file name the updater would
// refuse.
ReleaseManifest manifestOfFolder(const std::string &dir, long long serial);

struct SignedManifest {
    std::string text;      // the bytes of modules.sha256
    std::string signature; // the text of modules.sha256.sig: base64 and a line break
};
SignedManifest signManifest(const ReleaseManifest &manifest, const std::string &secretKey);

// Writes modules.sha256 and modules.sha256.sig for every file in `dir`, each replaced in one
// step. Without a serial the release gets the current time (UTC) as yyyymmddhhmm, or one more
// than the serial of the list already in `dir` when that is not lower, so that serials grow.
// A serial given that is not above the one of `dir`'s list is refused (the updater refuses a
// list that does not follow the installed one), unless the list stays byte for byte the same
// or `forceSerial` asks for it. Returns the list. Raises std::runtime_error.
ReleaseManifest signReleaseFolder(const std::string &secretKeyPath, const std::string &dir,
                                  std::optional<long long> serial = std::nullopt,
                                  bool forceSerial = false);

} // namespace tesmo::update
