#include "core/acquire/lha_extract.h"

#include "core/common/cp932.h"
#include "core/common/paths.h"
#include "core/common/text.h"

#include <lhasa.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace tesmo::acquire {
namespace {

const char *const kExtractFailed = "[unLHA] un compress error";

struct StreamDeleter {
    void operator()(LHAInputStream *s) const { lha_input_stream_free(s); }
};
struct ReaderDeleter {
    void operator()(LHAReader *r) const { lha_reader_free(r); }
};

// A member that must not be unpacked, or cannot be put in place; its text goes to the user.
class RefusedMember : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool isLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Splits a code page 932 path into its parts. liblhasa turns every "\" of the stored name into
// "/", including the second byte of a two-byte character such as "表" (0x95 0x5C); such a
// byte is put back, since a second byte is never a separator.
std::vector<std::string> pathParts(const std::string &raw) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < raw.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(raw[i]);
        if (isLeadByte(c) && i + 1 < raw.size()) {
            parts.back() += raw[i];
            const char trail = raw[++i];
            parts.back() += trail == '/' ? '\\' : trail;
        } else if (c == '/' || c == '\\') {
            parts.emplace_back();
        } else {
            parts.back() += raw[i];
        }
    }
    return parts;
}

// What liblhasa's callbacks share with extractMember(). liblhasa is C, so nothing may be
// thrown through it: a stop request from the port is parked here, the archive then reads as
// ended so that the library gives up at once, and the stop is raised once it has returned.
struct Unpacking {
    std::FILE *file = nullptr;
    UiPort *port = nullptr;
    std::exception_ptr raised;
};

void pumpEvents(unsigned int, unsigned int, void *unpacking) {
    auto *u = static_cast<Unpacking *>(unpacking);
    if (u->raised)
        return;
    try {
        u->port->processEvents();
    } catch (...) {
        u->raised = std::current_exception();
    }
}

int readArchive(void *unpacking, void *buf, size_t len) {
    auto *u = static_cast<Unpacking *>(unpacking);
    if (u->raised)
        return 0;
    const size_t n = std::fread(buf, 1, len, u->file);
    return n == 0 && std::ferror(u->file) ? -1 : static_cast<int>(n);
}

int skipArchive(void *unpacking, size_t bytes) {
    auto *u = static_cast<Unpacking *>(unpacking);
    return !u->raised && ::fseeko(u->file, static_cast<off_t>(bytes), SEEK_CUR) == 0;
}

void leaveOpen(void *) {} // the file belongs to extractMember()

const LHAInputStreamType kArchiveStream = {readArchive, skipArchive, leaveOpen};

struct FileCloser {
    void operator()(std::FILE *f) const { (void)std::fclose(f); } // read only
};

enum class Extracted { Damaged, NoSuchMember, Done };

// Unpacks the first member named `member` into `destDir`. Raises RefusedMember for a member that
// must not be unpacked or cannot be put in place.
Extracted extractMember(const std::string &archive, UiPort &port, const std::string &destDir,
                        const std::string &member) {
    // A pipe or a device would be read for ever.
    std::error_code ec;
    if (!fs::is_regular_file(archive, ec))
        return Extracted::Damaged;
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(archive.c_str(), "rb"));
    if (!file)
        return Extracted::Damaged;
    Unpacking unpacking{file.get(), &port, {}};
    std::unique_ptr<LHAInputStream, StreamDeleter> stream(
        lha_input_stream_new(&kArchiveStream, &unpacking));
    if (!stream)
        return Extracted::Damaged;
    std::unique_ptr<LHAReader, ReaderDeleter> reader(lha_reader_new(stream.get()));
    if (!reader)
        return Extracted::Damaged;
    // Folders are never made, so nothing has to wait for the end of a folder.
    lha_reader_set_dir_policy(reader.get(), LHA_READER_DIR_PLAIN);

    const std::string wanted = lowerAscii(member);
    bool anyMember = false;
    while (LHAFileHeader *header = lha_reader_next_file(reader.get())) {
        anyMember = true;
        // Folders and symbolic links: the "e" command keeps only files.
        if (std::strcmp(header->compress_method, LHA_COMPRESS_TYPE_DIR) == 0)
            continue;
        // A name that leads elsewhere is never the one asked for, so it is passed over too.
        if (lowerAscii(memberFileName(header->path, header->filename)) != wanted)
            continue;
        if (static_cast<long long>(header->length) > kMaxMemberBytes)
            throw RefusedMember("展開後のサイズが上限(" +
                                std::to_string(kMaxMemberBytes / 1000000) +
                                "MB)を超えるため展開しません: " + member);
        // A folder of our own inside the destination, so that the unpacked member is renamed
        // into place on the same file system.
        const PrivateFolder folder = [&] {
            try {
                return PrivateFolder(joinPath(destDir, ".unlha-XXXXXX"));
            } catch (const std::runtime_error &e) {
                throw RefusedMember(e.what());
            }
        }();
        const std::string unpacked = joinPath(folder.path(), member);
        // Given an explicit name, liblhasa writes just that file and checks the CRC.
        const int extracted = lha_reader_extract(reader.get(), const_cast<char *>(unpacked.c_str()),
                                                 pumpEvents, &unpacking);
        // Stopped: the private folder goes with what was unpacked so far.
        if (unpacking.raised)
            std::rethrow_exception(unpacking.raised);
        if (!extracted)
            return Extracted::Damaged;
        // The permissions stored in the archive mean nothing here.
        fs::permissions(unpacked,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read,
                        ec);
        // rename() replaces a file or a symbolic link in the way, never writing through it.
        const std::string target = joinPath(destDir, member);
        fs::rename(unpacked, target, ec);
        if (ec)
            throw RefusedMember("展開したファイルを置けません: " + target + " (" + ec.message() +
                                ")");
        return Extracted::Done;
    }
    return anyMember ? Extracted::NoSuchMember : Extracted::Damaged;
}

} // namespace

std::string memberFileName(const char *path, const char *filename) {
    const std::string raw = std::string(path ? path : "") + (filename ? filename : "");
    if (raw.empty() || raw.front() == '/' || raw.front() == '\\')
        return {};
    const std::vector<std::string> parts = pathParts(raw);
    for (const std::string &p : parts)
        if (p == "..")
            return {};
    const std::string &base = parts.back();
    if (base.empty() || base == ".")
        return {};
    for (unsigned char c : base)
        if (c < 0x20 || c == 0x7F)
            return {};
    return cp932ToUtf8(base);
}

std::string extractArchive(const std::string &archive, UiPort &port, const std::string &destDir,
                           const std::string &member) {
    std::string step;
    try {
        step = "[unLHA] step1";
        step = "UNLHA32.DLL(ERROR)";
        if (extractMember(archive, port, destDir, member) == Extracted::Damaged)
            return kExtractFailed;
        step = "[unLHA] step2";
        return {};
    } catch (const StopRequested &) {
        throw;
    } catch (const RefusedMember &e) {
        return std::string(kExtractFailed) + "\r\nDetail:" + e.what();
    } catch (const std::exception &e) {
        return step + "\r\nDetail:" + e.what();
    }
}

} // namespace tesmo::acquire
