// Process exit codes of the halvencap program; scripts rely on them.
#pragma once

namespace zentavo {
namespace cli {

enum ExitCode : int {
    EXIT_OK = 0,
    EXIT_FAILURE_OTHER = 1,   // driver library missing, output not writable, feature unavailable
    EXIT_BAD_ARGUMENTS = 2,
    EXIT_DEVICE_UNREACHABLE = 3,  // unreachable, refused the credentials or the request
    EXIT_NO_VIDEO = 4,
};

}  // namespace cli
}  // namespace zentavo
