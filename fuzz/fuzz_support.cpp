#include "fuzz_support.h"

#include "core/common/paths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tesmo::fuzz {
namespace {

struct Scratch {
    std::string dir;
    Scratch() {
        const char *tmp = std::getenv("TMPDIR");
        dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/tesmo-fuzz-" + std::to_string(::getpid());
        fs::remove_all(dir);
        fs::create_directories(dir + "/config");
        fs::create_directories(dir + "/install");
        ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        setInstallDirOverride(dir + "/install");
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

} // namespace

const std::string &scratchDir() {
    static Scratch scratch;
    return scratch.dir;
}

void writeBytes(const std::string &path, const uint8_t *data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace tesmo::fuzz
