#include "support/temp_env.h"

#include "common/paths.h"
#include "storage/shipped_database.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace tesmo::test {

TempEnv::TempEnv() {
    std::string tmpl = (fs::temp_directory_path() / "tesmo-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        std::abort();
    m_dir = tmpl;
    for (const auto &[name, folder] :
         {std::pair{"XDG_CONFIG_HOME", "config"}, std::pair{"XDG_DATA_HOME", "data-home"}}) {
        const char *old = std::getenv(name);
        m_oldVariables.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name, path(folder).c_str(), 1);
    }
    fs::create_directories(path("install"));
    setInstallDirOverride(path("install"));
}

TempEnv::~TempEnv() {
    setInstallDirOverride("");
    setProgramFolderWritableOverride(std::nullopt);
    for (const auto &[name, old] : m_oldVariables) {
        if (old)
            ::setenv(name.c_str(), old->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::error_code ec;
    fs::remove_all(m_dir, ec);
}

std::string TempEnv::newDatabase(const std::string &name) const {
    const std::string p = path(name);
    storage::createShippedDatabase(p);
    return p;
}

std::string TempEnv::tesmoctl(const std::string &args, int *status) const {
    const std::string copy = installPath("tesmoctl");
    if (!fs::exists(copy))
        fs::copy_file(std::string(TESMO_BIN_DIR) + "/tesmoctl", copy);
    return runCommand(copy + " " + args, status);
}

std::string runCommand(const std::string &command, int *status) {
    std::string out;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    const int rc = ::pclose(pipe);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

} // namespace tesmo::test
