#include "acquire/lha_extract.h"

#include "common/cp932.h"
#include "common/paths.h"
#include "common/text.h"

#include <lhasa.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

void pumpEvents(unsigned int, unsigned int, void *port) {
    static_cast<UiPort *>(port)->processEvents();
}

// A folder of our own for one extraction, inside the destination so that the unpacked member
// is renamed into place on the same file system. Nobody else can plant a file or a link in it.
class PrivateFolder {
public:
    explicit PrivateFolder(const std::string &parent) {
        std::string pattern = joinPath(parent, ".unlha-XXXXXX");
        if (!::mkdtemp(pattern.data()))
            throw RefusedMember("一時フォルダを作成できません: " + pattern + " (" +
                                std::strerror(errno) + ")");
        m_path = pattern;
    }
    ~PrivateFolder() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    PrivateFolder(const PrivateFolder &) = delete;
    PrivateFolder &operator=(const PrivateFolder &) = delete;
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
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
    std::unique_ptr<LHAInputStream, StreamDeleter> stream(
        lha_input_stream_from(const_cast<char *>(archive.c_str())));
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
        const PrivateFolder folder(destDir);
        const std::string unpacked = joinPath(folder.path(), member);
        // Given an explicit name, liblhasa writes just that file and checks the CRC.
        if (!lha_reader_extract(reader.get(), const_cast<char *>(unpacked.c_str()), pumpEvents,
                                &port))
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

std::string ExtractArchive(const std::string &archive, UiPort &port, const std::string &destDir,
                           const std::string &member) {
    std::string step;
    try {
        step = "[unLHA] step1";
        step = "UNLHA32.DLL(ERROR)";
        if (extractMember(archive, port, destDir, member) == Extracted::Damaged)
            return kExtractFailed;
        step = "[unLHA] step2";
        return {};
    } catch (const RefusedMember &e) {
        return std::string(kExtractFailed) + "\r\nDetail:" + e.what();
    } catch (const std::exception &e) {
        return step + "\r\nDetail:" + e.what();
    }
}

} // namespace tesmo::acquire
