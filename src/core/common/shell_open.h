#pragma once
// Routines every window shares: opening files and URLs, and looking files up.
#include <string>

namespace tesmo {

// Opens a file or URL like the desktop shell's "open": `command` is a path or URL, optionally
// followed by a blank and arguments (the longest leading part that names an existing file is
// the file). An executable is started directly, anything else goes to the default
// application. Returns the process id, or -99 when anything failed.
long shellOpen(const std::string &command, const std::string &workDir);

// What the user is told when shellOpen could not open `command`: "ﾍﾟｰｼﾞを開けませんでした。",
// the page, and why (a missing file, or no program that opens pages).
std::string openFailureText(const std::string &command);

// The first file name matching `pattern` (wildcards * and ? in the last component), or the
// empty text when none matches or the lookup fails.
std::string firstMatchingFile(const std::string &pattern);

} // namespace tesmo
