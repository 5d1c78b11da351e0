#include "settings/AppInfo.h"

namespace parlaro::settings {

AppInfo AppInfo::compiledIn()
{
    AppInfo info;
    info.version = PARLARO_VERSION;
#if PARLARO_UPDATES
    info.updatesEnabled = true;
    info.updateOrigin = PARLARO_UPDATE_ORIGIN;
#endif
    return info;
}

}  // namespace parlaro::settings
