#include "ui/tables/register_tables.h"

#include "ui/common/window_hub.h"
#include "ui/tables/f_portm.h"
#include "ui/tables/f_porttb.h"
#include "ui/tables/f_ranktb.h"
#include "ui/tables/form3.h"

namespace tesmo::ui {

void registerTableWindows() {
    WindowHub &hub = WindowHub::instance();
    hub.registerFactory(WindowKind::RankTb, [] { return new F_ranktb; });
    hub.registerFactory(WindowKind::PortTb, [] { return new F_porttb; });
    hub.registerFactory(WindowKind::PortM, [] { return new F_portM; });
    hub.registerFactory(WindowKind::Find, [] { return new Form3; });
}

} // namespace tesmo::ui
