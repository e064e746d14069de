#pragma once
// Starting other programs: the updater, the main program again, and documents or URLs in the
// desktop's default application. The started program runs on in its own session and is not
// a child of ours, so that it outlives us and never lingers as a zombie.
#include <string>
#include <vector>

namespace tesmo {

// What the starting routines return when nothing could be started.
inline constexpr long kStartFailed = -99;

// Starts `program` (a path, or a name looked up in PATH when it holds no "/") with `args`
// in `workDir` (empty: the current folder). Returns the process id, or kStartFailed when the
// program cannot be executed.
long startProcess(const std::string &program, const std::vector<std::string> &args = {},
                  const std::string &workDir = {});

// Opens `target` the way a desktop shell does: an executable file is started directly,
// anything else (a URL, a document) is handed to xdg-open. Returns the process id, or
// kStartFailed.
long openTarget(const std::string &target, const std::string &workDir = {});

} // namespace tesmo
