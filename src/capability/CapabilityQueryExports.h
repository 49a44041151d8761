// The capability query family of the library's exports: a module the host
// owns, or one process-wide module behind plain functions. The process-wide
// pointer is guarded, so host threads may call the plain functions at once.
#pragma once

#include <cstdint>

#include "capability/IIPCapabilityQuery.h"

namespace zentavo {

// Null when memory is exhausted. Only the low byte of videoStandard counts.
ipcapture::IIPCapabilityQuery* CreateCapabilityQuery(ipcapture::ICapabilityQueryCallback* callback,
                                                    uint32_t videoStandard);

// 0 when the process-wide module exists already, otherwise 1 (also when it
// could not be made).
int32_t InitProcessCapabilityQuery(ipcapture::ICapabilityQueryCallback* callback, uint32_t videoStandard);
// 0 for a null address, user name or password or without a module.
int32_t StartProcessCapabilityQuery(const char* address, uint32_t port, const char* userName,
                                    const char* password, ipcapture::ICapabilityResults* results);
// Always 1. Destroys the module (waiting for its probe within the bound).
int32_t UninitProcessCapabilityQuery();
// Always 1.
int32_t TerminateProcessCapabilityQuery();

}  // namespace zentavo
