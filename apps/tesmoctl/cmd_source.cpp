// source: which source the data update uses and whether it can be used, as the main window
// shows it after "データ取得元" and the welcome window decides from it.
#include "commands.h"

#include "core/shell/first_start.h"

#include <cstdio>

namespace tesmoctl {

int cmdSource(const Args &args) {
    if (!args.empty())
        return usageError(commandNamed("source"));
    const tesmo::shell::SourceState state = tesmo::shell::sourceState();
    std::printf("%s\n", tesmo::shell::sourceText(state).c_str());
    return tesmo::shell::sourceUsable(state) ? 0 : 1;
}

} // namespace tesmoctl
