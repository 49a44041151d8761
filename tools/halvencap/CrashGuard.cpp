#include "CrashGuard.h"

#include <cstdio>

#include "ExitCodes.h"
#include "runtime/PlatformTypes.h"

namespace zentavo {
namespace cli {

namespace {

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info != nullptr ? info->ExceptionRecord : nullptr;
    std::fprintf(stderr, "halvencap: fatal: unhandled exception 0x%08lx at %p\n",
                 record != nullptr ? static_cast<unsigned long>(record->ExceptionCode) : 0ul,
                 record != nullptr ? record->ExceptionAddress : nullptr);
    std::fflush(stderr);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), EXIT_FAILURE_OTHER);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void InstallCrashGuard() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnUnhandledException);
}

}  // namespace cli
}  // namespace zentavo
