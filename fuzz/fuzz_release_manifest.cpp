// The signed list of a release: its parser, and the signature check the updater puts before it.
#include "core/update/release_manifest.h"
#include "core/update/version_check.h"

#include <cstdlib>
#include <set>

using namespace tesmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    // The tail after the last line break stands for a signature. When it is the release key's
    // signature of the list before it, the list with one byte changed is no longer signed.
    const size_t cut = text.rfind('\n');
    if (cut != std::string::npos) {
        std::string list = text.substr(0, cut + 1);
        const std::string signature = text.substr(cut + 1);
        const std::string key = update::releasePublicKey();
        if (update::manifestSignatureMatches(list, signature, key)) {
            list[list.size() / 2] ^= 1;
            if (update::manifestSignatureMatches(list, signature, key))
                std::abort();
        }
    }

    update::ReleaseManifest manifest;
    try {
        manifest = update::parseReleaseManifest(text);
    } catch (const update::ManifestError &) {
        return 0;
    }
    // What the parser accepts names plain files, once each, and reads back the same.
    std::set<std::string> names;
    for (const update::ManifestEntry &e : manifest.files)
        if (!update::safeModuleName(e.name) || !names.insert(e.name).second || e.size < 0 ||
            e.sha256.size() != 64)
            std::abort();
    const std::string again = update::formatReleaseManifest(manifest);
    const update::ReleaseManifest reread = update::parseReleaseManifest(again);
    if (reread.serial != manifest.serial || reread.files.size() != manifest.files.size() ||
        update::formatReleaseManifest(reread) != again)
        std::abort();
    return 0;
}
