#include "runtime/SystemErrorText.h"

#include <cstdio>

#include "runtime/PlatformTypes.h"

namespace zentavo {

namespace {

const char* KnownCause(unsigned long code) {
    switch (code) {
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return "the process has too many threads or too little address space left";
        case ERROR_NO_SYSTEM_RESOURCES:
        case ERROR_COMMITMENT_LIMIT:
            return "the system has too little memory left";
        case ERROR_TOO_MANY_OPEN_FILES:
            return "the process has too many handles open";
        case 10024:  // WSAEMFILE
            return "the process has too many sockets open";
        case 10055:  // WSAENOBUFS
            return "the system has no buffer space left for another socket";
        case 10048:  // WSAEADDRINUSE
            return "the port is in use";
        case 10093:  // WSANOTINITIALISED
            return "Winsock is not started";
        default:
            return nullptr;
    }
}

}  // namespace

std::string SystemErrorText(unsigned long code) {
    char number[48];
    std::snprintf(number, sizeof number, " (error %lu)", code);
    if (const char* cause = KnownCause(code)) return std::string(cause) + number;
    char buffer[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ' || buffer[n - 1] == '.'))
        --n;
    if (n == 0) return std::string("system error") + number;
    return std::string(buffer, n) + number;
}

}  // namespace zentavo
