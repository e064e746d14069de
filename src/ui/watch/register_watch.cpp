#include "ui/watch/register_watch.h"

#include "ui/common/window_hub.h"
#include "ui/watch/signals_window.h"
#include "ui/watch/watch_rules_window.h"

namespace tesmo::ui {

void registerWatchWindows() {
    WindowHub &hub = WindowHub::instance();
    hub.registerFactory(WindowKind::WatchRules, [] { return new WatchRulesWindow; });
    hub.registerFactory(WindowKind::Signals, [] { return new SignalsWindow; });
}

} // namespace tesmo::ui
