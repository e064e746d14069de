#pragma once
// A temporary folder per test, with the settings folder ($XDG_CONFIG_HOME), the user's data
// folder ($XDG_DATA_HOME), the temporary folder ($TMPDIR) and the install folder pointed into
// it, so that tests never touch the user's own files nor each other's.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tesmo::test {

class TempEnv {
public:
    TempEnv();
    ~TempEnv();
    TempEnv(const TempEnv &) = delete;
    TempEnv &operator=(const TempEnv &) = delete;

    const std::string &dir() const { return m_dir; }
    std::string path(const std::string &name) const { return m_dir + "/" + name; }
    // A fresh copy of the shipped database in the temporary folder.
    std::string newDatabase(const std::string &name = "tesmo.mdb") const;
    // Runs tesmoctl with `args` (shell words) from a copy in the temporary install folder, so
    // that the files it keeps beside itself land there; standard output is returned.
    std::string tesmoctl(const std::string &args, int *status = nullptr) const;

private:
    std::string m_dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_oldVariables;
};

// The whole content of a file (empty when it cannot be read).
std::string fileBytes(const std::string &path);
// An SQLite file of another program: a table of its own and none of Tesmo's catalog.
void writeForeignSqliteFile(const std::string &path);

// Runs a shell command and returns its standard output; the exit status goes to *status.
std::string runCommand(const std::string &command, int *status = nullptr);

} // namespace tesmo::test
