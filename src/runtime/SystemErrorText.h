// Words for a GetLastError or WSAGetLastError code, for log lines that tell
// an integrator why a thread, socket or event could not be had. The causes
// that matter at the edge of a 32-bit process (threads, address space,
// sockets) get a sentence of their own; the rest come from the system.
#pragma once

#include <string>

namespace zentavo {

std::string SystemErrorText(unsigned long code);

}  // namespace zentavo
