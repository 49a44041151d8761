// The capability query as the host sees it. Slot 0 is the MSVC deleting
// destructor (flags bit 0 = free), so no C++ virtual destructor may come
// before the listed operations.
#pragma once

#include <cstdint>

#include "capability/CapabilityContract.h"

namespace zentavo {
namespace ipcapture {

class IIPCapabilityQuery {
public:
    virtual void* DeletingDestructor(unsigned flags) = 0;                           // 0
    // 1 when the probe thread was started, 0 otherwise. Only the low 16 bits
    // of port are the TCP port.
    virtual int32_t Start(const char* address, uint32_t port, const char* userName,
                          const char* password, ICapabilityResults* results) = 0;   // 1
    // Shortens a running probe as much as possible; does not wait for it.
    virtual void Terminate() = 0;                                                   // 2
};

}  // namespace ipcapture
}  // namespace zentavo
