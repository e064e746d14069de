#pragma once
// Unpacks the LHA archives (.lzh) in which the data site delivers its day files.
#include "core/common/ui_port.h"

#include <string>

namespace tesmo::acquire {

// No member may unpack to more than this: a damaged or hostile archive must not fill the disk.
inline constexpr long long kMaxMemberBytes = 200LL * 1000 * 1000;

// Takes one member out of `archive`: the member whose file name, without the folders stored
// with it, is `member` (ASCII case aside). It is unpacked into a private folder made inside
// `destDir`, its CRC checked, and only then renamed to `destDir`/`member`, replacing a file of
// that name. Every other member is passed over: nothing else an archive holds is ever
// written, whatever its name (a database, a program, another day file). `member` must be a
// plain file name; the first member of that name is taken. Returns the empty text on success,
// also when the archive holds no such member (the caller then finds no file, and an older file
// of that name is left alone);
// "[unLHA] un compress error" when the archive is damaged or not an archive, with a "Detail:"
// line when the member was refused (past kMaxMemberBytes) or could not be put in place.
// A stop request that the port raises while the member is unpacked ends the unpacking and is
// raised again (StopRequested), with nothing written.
std::string extractArchive(const std::string &archive, UiPort &port, const std::string &destDir,
                           const std::string &member);

// The file name under which a member is unpacked, as UTF-8: the last part of the stored path
// (`path` and `filename` as liblhasa reports them, code page 932 bytes). Empty when the name
// cannot be used: empty, "." or "..", control characters, an absolute path or ".." anywhere
// in the stored path.
std::string memberFileName(const char *path, const char *filename);

} // namespace tesmo::acquire
