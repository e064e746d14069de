#include "core/tables/clip_tbl.h"

#include "core/common/cp932.h"
#include "core/common/ui_port.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tesmo::tables {
namespace keys = storage::keys;
namespace {

constexpr const char *kCrLf = "\r\n";

// One UTF-8 character starting at s[i]; its length in bytes.
size_t charLength(const std::string &s, size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    return std::min(n, s.size() - i);
}

std::string toCp932Lenient(const std::string &text) {
    try {
        return utf8ToCp932(text);
    } catch (const Cp932Error &) {
    }
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t n = charLength(text, i);
        try {
            out += utf8ToCp932(std::string_view(text).substr(i, n));
        } catch (const Cp932Error &) {
            out += '?';
        }
        i += n;
    }
    return out;
}

bool fileExists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

} // namespace

char copySeparator() {
    long long v = 0;
    try {
        v = storage::readSettingInt(keys::cpseplt);
    } catch (const std::exception &) {
        v = 0;
    }
    return v == 0 ? '\t' : ',';
}

std::optional<std::string> clipStatement(const std::string &source, const GridColumns &cols) {
    std::string fields;
    for (const GridColumn &c : cols) {
        if (!c.visible)
            continue;
        if (!fields.empty())
            fields += ',';
        fields += c.field;
    }
    if (source.find(' ') == std::string::npos)
        return "select " + fields + " from " + source;
    if (source.find(" * ") == std::string::npos)
        return std::nullopt;
    std::string out = source;
    const std::string with = " " + fields + " ";
    for (size_t pos = 0; (pos = out.find(" * ", pos)) != std::string::npos; pos += with.size())
        out.replace(pos, 3, with);
    return out;
}

std::string clipText(storage::Database &db, const std::string &statement,
                     const std::vector<storage::Value> &params, const GridColumns &cols,
                     char separator) {
    std::string header;
    std::vector<bool> quoted;
    for (const GridColumn &c : cols) {
        if (!c.visible)
            continue;
        if (!quoted.empty())
            header += separator;
        header += '"' + c.caption + '"';
        quoted.push_back(c.align != Align::Right);
    }
    storage::ResultSet rs = db.openRecordset(statement, params);
    const size_t n = std::min(quoted.size(), static_cast<size_t>(rs.fieldCount()));
    std::string text;
    if (rs.rowCount() == 0)
        return text;
    text.reserve(rs.rowCount() * n * 12 + header.size() + 2);
    text += header;
    text += kCrLf;
    for (size_t r = 0; r < rs.rowCount(); ++r) {
        for (size_t j = 0; j < n; ++j) {
            if (j > 0)
                text += separator;
            const storage::Value &v = rs.at(r, static_cast<int>(j));
            if (quoted[j])
                text += '"';
            if (!v.isNull())
                text += v.toText();
            if (quoted[j])
                text += '"';
        }
        text += kCrLf;
    }
    return text;
}

void writeCp932File(const std::string &path, const std::string &text) {
    const std::string bytes = toCp932Lenient(text);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("ファイルを作成できません: " + path + " (" + std::strerror(errno) +
                                 ")");
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("ファイルに書き込めません: " + path);
}

void exportTable(UiPort &port, storage::Database &db, const storage::Query &source,
                 const GridColumns &cols, const std::string &fileName) {
    if (fileName.empty())
        port.setClipboardText("");
    const char separator = copySeparator();
    const std::optional<std::string> statement = clipStatement(source.sql, cols);
    if (!statement) {
        // The windows never hand over such a source; nothing is written for it.
        port.beep();
        port.message(kClipSourceError, "Tesmo", MsgIcon::Critical, MsgButtons::Ok);
        return;
    }
    const std::string text = clipText(db, *statement, source.params, cols, separator);
    if (fileName.empty()) {
        port.setClipboardText(text);
        return;
    }
    writeCp932File(fileName, text + kCrLf);
    const size_t slash = fileName.rfind('/');
    if (slash != std::string::npos)
        storage::writeSetting(keys::savecsvdir, fileName.substr(0, slash));
}

void copyTableCommand(UiPort &port, const TableExport &t) {
    if (port.busy())
        return;
    port.setClipboardText("");
    long long quiet = 0;
    try {
        quiet = storage::readSettingInt(keys::nomoremsg);
    } catch (const std::exception &) {
        quiet = 0;
    }
    if (quiet == 0) {
        std::string question = "現在の表をすべてコピーします。\r\nよろしいですか？";
        if (t.longCopyNote)
            question += "\r\n(この処理は約１分ほど費やされます)";
        if (port.message(question, t.caption, MsgIcon::Information, MsgButtons::OkCancel) !=
            MsgAnswer::Ok)
            return;
    }
    port.setBusy(true);
    try {
        exportTable(port, t.db, t.source, t.cols, "");
    } catch (const std::exception &e) {
        port.setBusy(false);
        port.message(e.what(), t.caption, MsgIcon::Critical, MsgButtons::Ok);
        return;
    }
    port.setBusy(false);
}

bool fileTableCommand(UiPort &port, const TableExport &t, const std::string &today) {
    if (port.busy())
        return false;
    port.setClipboardText("");
    FileDialogRequest req;
    req.title = "出力先を指定してください";
    req.initialDir = storage::readSetting(keys::savecsvdir);
    req.initialName = t.prefix + today;
    req.filter = kExportFilter;
    std::string name = port.saveFileDialog(req);
    if (name.empty())
        return false; // cancelled
    // The dialog adds the chosen filter's extension; a name from elsewhere that still has
    // none gets the default one.
    name = withFilterExtension(name, kExportFilter);
    if (fileExists(name) &&
        port.message("既にファイルが存在しています。\r\n上書きしてよろしいですか？", t.caption,
                     MsgIcon::Information, MsgButtons::OkCancel) != MsgAnswer::Ok)
        return false;
    port.setBusy(true);
    try {
        exportTable(port, t.db, t.source, t.cols, name);
    } catch (const std::exception &e) {
        port.setBusy(false);
        port.message(e.what(), t.caption, MsgIcon::Critical, MsgButtons::Ok);
        return false;
    }
    port.setBusy(false);
    return true;
}

} // namespace tesmo::tables
