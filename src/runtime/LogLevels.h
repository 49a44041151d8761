#pragma once

namespace zentavo {

enum LogLevel : int {
    LOG_ERROR = 1,
    LOG_WARNING = 2,
    LOG_INFO = 3,
    LOG_SILENT = 4,  // never delivered
    LOG_NOTICE = 100,
};

}  // namespace zentavo
