#include "StopSignal.h"

#include "runtime/PlatformTypes.h"

namespace zentavo {
namespace cli {

namespace {

HANDLE g_stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            if (g_stopEvent != nullptr) SetEvent(g_stopEvent);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool InstallStopHandler() {
    if (g_stopEvent == nullptr) g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_stopEvent == nullptr) return false;
    return SetConsoleCtrlHandler(OnConsoleControl, TRUE) != FALSE;
}

bool WaitForStop(unsigned timeoutMs) {
    if (g_stopEvent == nullptr) {
        Sleep(timeoutMs);
        return false;
    }
    return WaitForSingleObject(g_stopEvent, timeoutMs) == WAIT_OBJECT_0;
}

bool StopRequested() { return WaitForStop(0); }

bool StdoutIsConsole() {
    DWORD mode = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return out != nullptr && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode) != FALSE;
}

}  // namespace cli
}  // namespace zentavo
