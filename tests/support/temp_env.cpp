#include "support/temp_env.h"

#include "core/common/paths.h"
#include "core/storage/shipped_database.h"

#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tesmo::test {

TempEnv::TempEnv() {
    std::string tmpl = (fs::temp_directory_path() / "tesmo-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        std::abort();
    m_dir = tmpl;
    // The settings, the user's data folder, and the temporary folder where a running instance
    // keeps its activation socket: tests running at the same time must not reach each other's
    // windows.
    fs::create_directories(path("tmp"));
    for (const auto &[name, folder] :
         {std::pair{"XDG_CONFIG_HOME", "config"}, std::pair{"XDG_DATA_HOME", "data-home"},
          std::pair{"TMPDIR", "tmp"}}) {
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

std::string fileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void writeForeignSqliteFile(const std::string &path) {
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open(path.c_str(), &db);
    const bool ok = rc == SQLITE_OK &&
                    sqlite3_exec(db, "CREATE TABLE notes(t TEXT); INSERT INTO notes VALUES('x');",
                                 nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    if (!ok)
        throw std::runtime_error("cannot write " + path);
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
