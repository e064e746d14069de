#include "core/common/shell_open.h"

#include "core/common/process.h"

#include <fnmatch.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace tesmo {
namespace {

std::vector<std::string> splitArguments(const std::string &text) {
    std::vector<std::string> args;
    std::string current;
    bool quoted = false;
    bool any = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any)
                args.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        args.push_back(current);
    return args;
}

bool isExecutableFile(const std::string &path) {
    std::error_code ec;
    const auto st = fs::status(path, ec);
    return !ec && fs::is_regular_file(st) &&
           (st.permissions() & (fs::perms::owner_exec | fs::perms::group_exec |
                                fs::perms::others_exec)) != fs::perms::none;
}

} // namespace

std::string firstMatchingFile(const std::string &pattern) {
    try {
        if (pattern.empty() || pattern.find("://") != std::string::npos)
            return {};
        const fs::path p(pattern);
        const std::string name = p.filename().string();
        if (name.find_first_of("*?") == std::string::npos)
            return fs::exists(p) && !fs::is_directory(p) ? name : std::string();
        const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
        std::vector<std::string> matches;
        for (const auto &entry : fs::directory_iterator(dir)) {
            const std::string candidate = entry.path().filename().string();
            if (entry.is_regular_file() && ::fnmatch(name.c_str(), candidate.c_str(), 0) == 0)
                matches.push_back(candidate);
        }
        std::sort(matches.begin(), matches.end());
        return matches.empty() ? std::string() : matches.front();
    } catch (...) {
        return {};
    }
}

std::string openFailureText(const std::string &command) {
    std::string reason;
    const bool page = command.find("://") != std::string::npos;
    if (!page && firstMatchingFile(command).empty())
        reason = "ファイルが見つかりません";
    else if (startProcess("xdg-open", {"--version"}) == kStartFailed)
        reason = "ページを開くプログラム(xdg-open)がありません";
    else
        reason = "ページを開くプログラムを起動できませんでした";
    return "ﾍﾟｰｼﾞを開けませんでした。\r\n" + command + "\r\n詳細:" + reason;
}

long shellOpen(const std::string &command, const std::string &workDir) {
    try {
        std::string file = command;
        std::string arguments;
        for (size_t n = command.size(); n >= 1; --n) {
            if (command[n - 1] == ' ' && n >= 3 &&
                !firstMatchingFile(command.substr(0, n - 1)).empty()) {
                file = command.substr(0, n - 1);
                arguments = command.substr(n);
                break;
            }
            if (!firstMatchingFile(command.substr(0, n)).empty())
                break; // the whole text is the file, without arguments
        }
        if (file.empty())
            return kStartFailed;
        if (isExecutableFile(file))
            return startProcess(file, splitArguments(arguments), workDir);
        if (!arguments.empty())
            return kStartFailed; // only programs take arguments
        return openTarget(file, workDir);
    } catch (...) {
        return kStartFailed;
    }
}

} // namespace tesmo
