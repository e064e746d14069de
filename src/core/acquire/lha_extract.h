#pragma once
// Unpacks the LHA archives (.lzh) in which the data site delivers its day files.
#include "common/ui_port.h"

#include <string>

namespace tesmo::acquire {

// No member may unpack to more than this: a damaged or hostile archive must not fill the disk.
inline constexpr long long kMaxMemberBytes = 200LL * 1000 * 1000;

// Unpacks every member of `archive` into `destDir` under the member's own file name, without
// the folder names stored with it (the "e" command of the LHA tools); an existing file of
// that name is replaced. The CRC of every member is checked. Returns the empty text on
// success; "[unLHA] un compress error" when the archive is damaged or not an archive, with
// a "Detail:" line when a member was refused (a name that points outside the folder, or a
// member past kMaxMemberBytes).
std::string ExtractArchive(const std::string &archive, UiPort &port, const std::string &destDir);

// The file name under which a member is unpacked, as UTF-8: the last part of the stored path
// (`path` and `filename` as liblhasa reports them, code page 932 bytes). Empty when the name
// cannot be used: empty, "." or "..", control characters, an absolute path or ".." anywhere
// in the stored path.
std::string memberFileName(const char *path, const char *filename);

} // namespace tesmo::acquire
