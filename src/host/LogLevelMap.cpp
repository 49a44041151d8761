#include "host/HostVersion.h"
#include "runtime/LogLevels.h"

namespace zentavo {

int MapLogLevel(const HOST_VERSION& version, int level) {
    const bool below512 = version.major < 5 || (version.major == 5 && version.minor < 12);
    const bool below63 = version.major < 6 || (version.major == 6 && version.minor < 3);
    if (below512) {
        // Old hosts know nothing above warnings but errors.
        if (level == LOG_INFO || level == LOG_NOTICE) return LOG_WARNING;
        return level;
    }
    if (below63 && level == LOG_NOTICE) return LOG_INFO;
    return level;
}

}  // namespace zentavo
