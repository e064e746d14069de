// release-keygen and release-sign: publishing a release that the updater will install.
#include "commands.h"

#include "core/update/release_publish.h"

#include <cstdio>
#include <cstdlib>

namespace tesmoctl {

int cmdReleaseKeygen(const Args &args) {
    if (args.size() != 2)
        return usageError(commandNamed("release-keygen"));
    tesmo::update::writeReleaseKeyPair(args[0], args[1]);
    std::printf("%s\n", args[1].c_str());
    return 0;
}

int cmdReleaseSign(const Args &args) {
    std::optional<long long> serial;
    Args rest = args;
    const bool forceSerial = takeFlag(rest, "--force-serial");
    Args positional;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == "--serial" && i + 1 < rest.size()) {
            const std::string &text = rest[++i];
            char *end = nullptr;
            const long long v = std::strtoll(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || v < 0 || text.size() > 18)
                return usageError(commandNamed("release-sign"));
            serial = v;
        } else {
            positional.push_back(rest[i]);
        }
    }
    if (positional.size() != 2)
        return usageError(commandNamed("release-sign"));
    const auto manifest =
        tesmo::update::signReleaseFolder(positional[0], positional[1], serial, forceSerial);
    std::printf("serial %lld, %zu files\n", manifest.serial, manifest.files.size());
    return 0;
}

} // namespace tesmoctl
