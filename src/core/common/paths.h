#pragma once
// Where things live on this platform: the install folder (the running program's folder),
// the user's profile and desktop folders and the settings folder.
#include <string>

namespace tesmo {

// Folder of the running executable, without a trailing separator.
std::string installDir();
// installDir() joined with `name`.
std::string installPath(const std::string &name);
// Tests and tools may point the install folder elsewhere; an empty text restores the default.
void setInstallDirOverride(const std::string &dir);

// $HOME (USERPROFILE on the original platform).
std::string profileDir();
// $HOME/デスクトップ when it exists, else the XDG desktop folder, else $HOME.
std::string desktopDir();
// $XDG_CONFIG_HOME/tesmo, default ~/.config/tesmo.
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

} // namespace tesmo
