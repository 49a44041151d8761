// Product version of the host's core library, which decides how log levels
// are presented to the host.
#pragma once

#include <cstdint>
#include <string>

namespace zentavo {

struct HOST_VERSION {
    uint16_t major = 5;
    uint16_t minor = 12;
    uint16_t build = 0;
    uint16_t revision = 0;
};

// Level as the host of that version expects it. Level 4 is filtered earlier.
int MapLogLevel(const HOST_VERSION& version, int level);

// Product version from the version resource of the named file; 5.12 when the
// file or its resource cannot be read.
HOST_VERSION ReadHostVersion(const char* fileName);

// Directory of the host executable with its trailing backslash; empty when
// the path does not fit in 511 characters.
std::string ReadHostDirectory();

}  // namespace zentavo
