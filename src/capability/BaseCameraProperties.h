// What a probed device can do, independent of the camera family, and the
// rules by which it is written into the host's result object. A family
// fills the fields in FetchProperties (on the probe thread); the host
// thread may only Abort. Shared between the two through TSmartPtr.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "capability/AudioCapabilities.h"
#include "capability/CapabilityContract.h"
#include "capability/CodecIds.h"
#include "capability/FrameRules.h"
#include "host/DeviceInfo.h"
#include "runtime/Event.h"

namespace zentavo {

class CBaseCameraProperties {
public:
    CBaseCameraProperties(uint32_t videoStandard, const DEVICE_INFO& device);
    CBaseCameraProperties(const CBaseCameraProperties&) = delete;
    CBaseCameraProperties& operator=(const CBaseCameraProperties&) = delete;

    // Interrupts an exchange in progress.
    virtual void Cancel() {}
    virtual bool WriteFrameRates(ipcapture::IFrameIntervalList* list);
    virtual bool WriteGroups(ipcapture::ICapabilityResults* sink) = 0;
    virtual ~CBaseCameraProperties() = default;
    // Gathers everything from the device. On failure code tells why:
    // 1 login refused, 2 device unreachable, 3 anything else.
    virtual bool FetchProperties(int32_t& code) = 0;
    // Appended to the host's failure message when non-empty.
    virtual std::string GetErrorText() { return std::string(); }

    void AddFrameSize(uint16_t width, uint16_t height, uint32_t minFrameIntervalMs = 0);
    // From the host thread while a fetch may be running.
    void Abort();
    // Writes everything, in the host's order; the first step that fails
    // ends it (nothing written is taken back).
    bool SaveResults(ipcapture::ICapabilityResults* sink);

    std::string manufacturer;
    std::string model;
    CAudioCapabilities audioInput;
    CAudioCapabilities audioOutput;
    int32_t capMode = 0;
    uint32_t capValue13 = 0;
    bool capFlag1 = false;
    bool capFlag5 = false;
    bool capFlag11 = false;
    bool capFlag12 = false;
    DEVICE_INFO deviceInfo;
    CManualEvent stopEvent;
    std::string firmwareVersion;
    uint32_t videoStandard = 0;
    uint32_t inputCount = 0;
    uint32_t outputCount = 0;
    uint32_t streamCount = 0;
    std::set<int32_t> codecs;
    FrameSizeList frameSizes;
    FrameRateSet frameRates;
    uint32_t defaultFrameRate = 0;  // 0 = half the highest

protected:
    bool StopRequested() { return stopEvent.Wait(0); }
    // Nothing for an id <= 0 or an empty name; an empty value reads "(none)".
    static void WriteGroup(int32_t id, const std::string& value, ipcapture::ICapabilityResults* sink,
                           int32_t flag, const std::string& name);

private:
    bool WriteName(ipcapture::ICapabilityResults* sink);
    void WriteDeviceFields(ipcapture::ICapabilityResults* sink);
    bool WriteCodecs(ipcapture::ICapabilityResults* sink);
    bool WriteFrameSizes(ipcapture::ICapabilityResults* sink);
    void WriteFlagsAndAudio(ipcapture::ICapabilityResults* sink);
};

}  // namespace zentavo
