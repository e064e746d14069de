#pragma once
// Where things live on this platform: the install folder (the running program's folder),
// the folders of the files the program writes, the user's profile and desktop folders and the
// settings folder.
#include <optional>
#include <string>

namespace tesmo {

// Folder of the running executable, without a trailing separator.
std::string installDir();
// installDir() joined with `name`.
std::string installPath(const std::string &name);
// Tests and tools may point the install folder elsewhere; an empty text restores the default.
void setInstallDirOverride(const std::string &dir);

// What a file is to the program; folderFor() decides where each kind lives.
enum class FileKind {
    Program,        // the programs, the help page, the shipped databases (template/tesmo.mdb)
    Database,       // the default database (mdbpath unset), a copy of the shipped one
    Download,       // downloads and temporary files of the data update and the manual import
    Backup,         // tesmo.mbk, the database as it was before its last compaction
    UpdateDownload, // the updater's download folder "downtemp"
};
// Whether this user can write the install folder. A system-wide install cannot be written:
// its program files belong to the package manager. A folder that holds kSystemInstallMarker (put
// there by an install into /usr or /usr/local) counts as read-only for root too, so that root's
// files never land among the package's.
inline constexpr const char *kSystemInstallMarker = "system-install";
bool programFolderWritable();
// Tests may decide the answer of programFolderWritable(); nullopt asks the file system again.
void setProgramFolderWritableOverride(std::optional<bool> writable);
// $XDG_DATA_HOME/tesmo, default ~/.local/share/tesmo (also when the variable holds a relative
// path, which the XDG rules declare invalid).
std::string userDataDir();
// The folder of files of `kind`: the install folder, except that everything the program writes
// goes to userDataDir() (made when missing) while the install folder cannot be written. The
// compacted copy "tmptesmo.mdb" is no kind of its own: it is built beside the database.
std::string folderFor(FileKind kind);
// folderFor(kind) joined with `name`.
std::string pathFor(FileKind kind, const std::string &name);

// The user's home folder, $HOME.
std::string profileDir();
// $HOME/デスクトップ when it exists, else the XDG desktop folder, else $HOME.
std::string desktopDir();
// $XDG_CONFIG_HOME/tesmo, default ~/.config/tesmo (also for a relative value, as above).
std::string settingsDir();

std::string joinPath(const std::string &dir, const std::string &name);
bool fileExists(const std::string &path);
// Length in bytes, -1 when the file cannot be read.
long long fileLength(const std::string &path);
// The bytes of a file. Raises std::runtime_error when it cannot be read.
std::string readFileBytes(const std::string &path);
// The whole of a regular file of at most `maxBytes` bytes. Raises std::runtime_error when the
// file cannot be read, is no regular file (a device, a pipe, a folder, or a link to one) or is
// longer: a file handed in from outside must not fill the memory or block for ever.
std::string readFileCapped(const std::string &path, long long maxBytes);

// A folder of our own, made from `pattern` (a path ending in XXXXXX) and removed with everything
// in it: nobody else can plant a file or a link in it. Raises std::runtime_error when it cannot
// be made.
class PrivateFolder {
public:
    explicit PrivateFolder(std::string pattern);
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder &) = delete;
    PrivateFolder &operator=(const PrivateFolder &) = delete;
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace tesmo
