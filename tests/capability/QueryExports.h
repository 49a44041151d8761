// The capability query exports of the shipped library, found by name.
#pragma once

#include <cstdint>

#include "capability/IIPCapabilityQuery.h"
#include "support/DriverLibrary.h"

namespace halvencap_test {

struct QueryExports {
    explicit QueryExports(const DriverLibrary& library)
        : create(reinterpret_cast<zentavo::ipcapture::IIPCapabilityQuery* (*)(zentavo::ipcapture::ICapabilityQueryCallback*, uint32_t)>(
              library.Export("CreateCapabilityQueryModule"))),
          destroy(reinterpret_cast<void (*)(void*)>(library.Export("DeleteCapabilityQueryModule"))),
          init(reinterpret_cast<int32_t (*)(zentavo::ipcapture::ICapabilityQueryCallback*, uint32_t)>(
              library.Export("InitCapabilityQuery"))),
          start(reinterpret_cast<int32_t (*)(const char*, uint32_t, const char*, const char*, zentavo::ipcapture::ICapabilityResults*)>(
              library.Export("StartCapabilityQuery"))),
          uninit(reinterpret_cast<int32_t (*)()>(library.Export("UninitCapabilityQuery"))),
          terminate(reinterpret_cast<int32_t (*)()>(library.Export("TerminateCapabilityQuery"))) {}

    bool Complete() const { return create && destroy && init && start && uninit && terminate; }

    zentavo::ipcapture::IIPCapabilityQuery* (*create)(zentavo::ipcapture::ICapabilityQueryCallback*, uint32_t);
    void (*destroy)(void*);
    int32_t (*init)(zentavo::ipcapture::ICapabilityQueryCallback*, uint32_t);
    int32_t (*start)(const char*, uint32_t, const char*, const char*, zentavo::ipcapture::ICapabilityResults*);
    int32_t (*uninit)();
    int32_t (*terminate)();
};

}  // namespace halvencap_test
