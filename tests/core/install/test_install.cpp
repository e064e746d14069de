// cmake --install into a temporary prefix: the program folder, the launchers and the desktop's
// files, checked with the desktop's own validators; the installed programs find their folder
// through the launchers, and an ordinary user of a read-only install keeps their files in the
// user data folder. Installing again and the README's uninstall leave the user's database alone.
#include "core/common/build_config.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using tesmo::test::runCommand;
using tesmo::test::TempEnv;
namespace fs = std::filesystem;

namespace {

// Width and height from a PNG's header.
std::pair<int, int> pngSize(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char h[24] = {};
    in.read(reinterpret_cast<char *>(h), sizeof h);
    const auto be32 = [&](int at) {
        return h[at] << 24 | h[at + 1] << 16 | h[at + 2] << 8 | h[at + 3];
    };
    return {be32(16), be32(20)};
}

// The README's cmake --install --strip into `prefix`; the list of installed files is copied to
// `manifestCopy`. The install lists its files in the build folder's manifest, with which a user
// removes their own install: that list is put back afterwards.
void installInto(const std::string &prefix, const std::string &manifestCopy, const TempEnv &env) {
    const std::string manifest = std::string(TESMO_BUILD_DIR) + "/install_manifest.txt";
    const std::string usersManifest = env.path("users_install_manifest.txt");
    fs::remove(usersManifest);
    if (fs::exists(manifest))
        fs::copy_file(manifest, usersManifest);
    int status = -1;
    const std::string log =
        runCommand(std::string(TESMO_CMAKE_COMMAND) + " --install " + TESMO_BUILD_DIR +
                       " --prefix " + prefix + " --strip 2>&1",
                   &status);
    fs::copy_file(manifest, manifestCopy, fs::copy_options::overwrite_existing);
    if (fs::exists(usersManifest))
        fs::copy_file(usersManifest, manifest, fs::copy_options::overwrite_existing);
    else
        fs::remove(manifest);
    ASSERT_EQ(status, 0) << log;
}

// The programs keep no debug information or symbol table: a per-user install is as small as
// the package's.
void expectStripped(const std::string &programDir) {
    for (const std::string program : {"Tesmo", "tesmo_auto", "tesmoctl"}) {
        int status = -1;
        const std::string sections =
            runCommand("readelf --section-headers --wide " + programDir + "/" + program, &status);
        ASSERT_EQ(status, 0) << program;
        EXPECT_EQ(sections.find(".debug_info"), std::string::npos) << program;
        EXPECT_EQ(sections.find(".symtab"), std::string::npos) << program;
    }
}

// help2man turned each command of tesmoctl's help into an entry of the manual page, and the
// pages name the commands on the PATH; Tesmo answers --help and --version without a display,
// as help2man asked them while building.
void expectManualPages(const std::string &prefix) {
    int status = -1;
    const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
    const std::string help = runCommand(noDisplay + prefix + "/bin/tesmo --help", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(help.rfind("Usage: tesmo [OPTION]\n", 0), 0u) << help;
    EXPECT_EQ(runCommand(noDisplay + prefix + "/bin/tesmo --version", &status),
              "Tesmo " TESMO_VERSION "\n");
    EXPECT_EQ(runCommand(prefix + "/bin/tesmoctl --version", &status),
              "tesmoctl " TESMO_VERSION "\n");

    const std::string man = prefix + "/share/man/man1/";
    const std::string tesmoPage = runCommand("zcat " + man + "tesmo.1.gz", &status);
    EXPECT_EQ(status, 0);
    for (const std::string part : {".SH NAME\ntesmo \\- ", ".SH SYNOPSIS\n.B tesmo\n",
                                   "\\fB\\-\\-version\\fR", ".SH FILES\n"})
        EXPECT_NE(tesmoPage.find(part), std::string::npos) << part << "\n" << tesmoPage;

    const std::string ctlPage = runCommand("zcat " + man + "tesmoctl.1.gz", &status);
    EXPECT_EQ(status, 0);
    std::istringstream ctlHelp(runCommand(prefix + "/bin/tesmoctl --help", &status));
    int commands = 0;
    for (std::string line; std::getline(ctlHelp, line);) {
        if (line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] == ' ' || line[2] == '-')
            continue;
        std::string entry = ".TP\n" + line.substr(2, line.find(' ', 2) - 2);
        for (std::size_t at = 0; (at = entry.find('-', at)) != std::string::npos; at += 2)
            entry.insert(at, "\\");
        EXPECT_NE(ctlPage.find(entry), std::string::npos) << line;
        ++commands;
    }
    EXPECT_GT(commands, 10) << ctlPage;
}

// The copyright file and the changelog that Debian expects of a package, the changelog's
// newest entry being this version.
void expectPackageDocuments(const std::string &prefix) {
    const std::string doc = prefix + "/share/doc/tesmo/";
    EXPECT_NE(tesmo::test::fileBytes(doc + "copyright").find("\nLicense: "), std::string::npos);
    int status = -1;
    const std::string changelog = runCommand("zcat " + doc + "changelog.gz", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(changelog.rfind("tesmo (" TESMO_VERSION ") ", 0), 0u) << changelog;
}

TEST(Install, LaysOutAPrefixThatTheDesktopAndItsUsersCanUse) {
    TempEnv env;
    const std::string prefix = env.path("prefix");
    const std::string ourManifest = env.path("install_manifest.txt");
    ASSERT_NO_FATAL_FAILURE(installInto(prefix, ourManifest, env));
    int status = -1;

    const std::string id = TESMO_APP_ID;
    const std::string desktop = prefix + "/share/applications/" + id + ".desktop";
    const std::string metainfo = prefix + "/share/metainfo/" + id + ".metainfo.xml";
    for (const std::string name : {"Tesmo", "tesmo_auto", "tesmoctl", "Tesmo.html",
                                   "template/tesmo.mdb", "tempportfolio.gbf"})
        EXPECT_TRUE(fs::is_regular_file(prefix + "/lib/tesmo/" + name)) << name;
    // The user's database is made by the programs, never installed.
    EXPECT_FALSE(fs::exists(prefix + "/lib/tesmo/tesmo.mdb"));
    for (const std::string size : {"16", "22", "24", "32", "48", "64", "128", "256"}) {
        const std::string png =
            prefix + "/share/icons/hicolor/" + size + "x" + size + "/apps/" + id + ".png";
        EXPECT_EQ(pngSize(png), std::pair(std::stoi(size), std::stoi(size))) << png;
    }
    EXPECT_TRUE(fs::is_regular_file(prefix + "/share/icons/hicolor/scalable/apps/" + id + ".svg"));
    for (const auto &[launcher, program] : {std::pair{"tesmo", "Tesmo"}, {"tesmoctl", "tesmoctl"}})
        EXPECT_EQ(fs::canonical(prefix + "/bin/" + launcher),
                  fs::canonical(prefix + "/lib/tesmo/" + program));

    const std::string help = runCommand(prefix + "/bin/tesmoctl --help", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(help.find("Usage: tesmoctl"), std::string::npos) << help;
    expectStripped(prefix + "/lib/tesmo");
    expectManualPages(prefix);
    expectPackageDocuments(prefix);

    EXPECT_NE(runCommand("grep -x 'Exec=" + prefix + "/bin/tesmo' " + desktop, &status), "");
    const std::string desktopCheck =
        runCommand("desktop-file-validate " + desktop + " 2>&1", &status);
    EXPECT_EQ(status, 0) << desktopCheck;
    EXPECT_EQ(desktopCheck, "");
    const std::string metainfoCheck =
        runCommand("appstreamcli validate --no-net " + metainfo + " 2>&1", &status);
    EXPECT_EQ(status, 0) << metainfoCheck;

    // The launcher leads the program to its folder; writable there, the files stay beside it.
    const std::string writable = runCommand(prefix + "/bin/tesmoctl paths", &status);
    EXPECT_NE(writable.find("database\t" + prefix + "/lib/tesmo\n"), std::string::npos) << writable;
    // tesmoctl's first use of the default database makes it from the shipped one, and a second
    // install (an upgrade) keeps the user's rows.
    const std::string database = prefix + "/lib/tesmo/tesmo.mdb";
    const std::string insert =
        runCommand(prefix + "/bin/tesmoctl sql " + database +
                       " \"insert into master(CODE, NAME) values('1301', 'kept')\" 2>&1",
                   &status);
    EXPECT_EQ(status, 0) << insert;
    ASSERT_NO_FATAL_FAILURE(installInto(prefix, ourManifest, env));
    const std::string select = std::string(TESMO_BIN_DIR) + "/tesmoctl sql " + database +
                               " 'select NAME from master' 2>&1";
    EXPECT_EQ(runCommand(select, &status), "NAME\nkept\n");

    // A system-wide install as an ordinary user sees it: the program folder is not theirs.
    ::chmod(env.dir().c_str(), 0755);
    fs::permissions(prefix + "/lib/tesmo", fs::perms::owner_write, fs::perm_options::remove);
    const std::string home = env.path("home");
    fs::create_directories(home);
    std::string asUser = "env HOME=" + home + " XDG_DATA_HOME= XDG_CONFIG_HOME= ";
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
        asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups " + asUser;
    }
    // Relative XDG folders are ignored, as the XDG rules say: the same database either way.
    for (const std::string xdg : {"", "XDG_DATA_HOME=data XDG_CONFIG_HOME=config "}) {
        const std::string readOnly =
            runCommand(asUser + xdg + prefix + "/bin/tesmoctl paths", &status);
        EXPECT_EQ(status, 0);
        EXPECT_NE(readOnly.find("program\t" + prefix + "/lib/tesmo\n"), std::string::npos);
        EXPECT_NE(readOnly.find("mdbpath\t" + home + "/.local/share/tesmo/tesmo.mdb\n"),
                  std::string::npos)
            << xdg << readOnly;
    }
    // The user's copy is made on tesmoctl's first use too, not only by the main program.
    const std::string mine = home + "/.local/share/tesmo/tesmo.mdb";
    const std::string count = runCommand(
        asUser + prefix + "/bin/tesmoctl sql " + mine + " 'select count(*) from master'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(count, "count(*)\n0\n");
    fs::permissions(prefix + "/lib/tesmo", fs::perms::owner_write, fs::perm_options::add);

    // The README's uninstall removes the installed files and leaves the user's data.
    const std::string removed = runCommand("xargs rm < " + ourManifest + " 2>&1", &status);
    EXPECT_EQ(status, 0) << removed;
    EXPECT_FALSE(fs::exists(prefix + "/lib/tesmo/tesmoctl"));
    EXPECT_FALSE(fs::exists(prefix + "/lib/tesmo/template/tesmo.mdb"));
    EXPECT_EQ(runCommand(select, &status), "NAME\nkept\n");
    EXPECT_TRUE(fs::exists(mine));
}

} // namespace
