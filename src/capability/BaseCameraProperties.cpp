#include "capability/BaseCameraProperties.h"

#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

// Capability item identifiers of the host.
enum CapabilityItemId : int32_t {
    ITEM_STREAMS = 0,
    ITEM_FLAG1 = 1,
    ITEM_INPUTS = 2,
    ITEM_OUTPUTS = 3,
    ITEM_AUDIO_INPUTS = 4,
    ITEM_FLAG5 = 5,
    ITEM_MPEG4 = 6,
    ITEM_JPEG = 7,
    ITEM_H264 = 8,
    ITEM_FLAG11 = 11,
    ITEM_FLAG12 = 12,
    ITEM_VALUE13 = 13,
    ITEM_MODE14 = 14,
    ITEM_15 = 15,
    ITEM_16 = 16,
    ITEM_17 = 17,
};

const int32_t kFrameIntervalKind = 1;
const int32_t kAudioInputGroup = 101;
const int32_t kAudioOutputGroup = 102;

void SetText(ipcapture::ICapabilityItem* item, const std::string& text) {
    if (item != nullptr) item->SetText(text.c_str());
}

}  // namespace

CBaseCameraProperties::CBaseCameraProperties(uint32_t standard, const DEVICE_INFO& device)
    : deviceInfo(device), videoStandard(standard) {}

void CBaseCameraProperties::AddFrameSize(uint16_t width, uint16_t height, uint32_t minFrameIntervalMs) {
    zentavo::AddFrameSize(frameSizes, width, height, minFrameIntervalMs);
}

void CBaseCameraProperties::Abort() {
    stopEvent.Set();
    Cancel();
}

void CBaseCameraProperties::WriteGroup(int32_t id, const std::string& value, ipcapture::ICapabilityResults* sink,
                                       int32_t flag, const std::string& name) {
    if (id <= 0 || name.empty()) return;
    ipcapture::ICapabilityItem* group = sink->GetGroup(id);
    if (group == nullptr) return;
    group->SetName(name.c_str());
    group->SetOption(0);
    group->SetFlag(flag);
    group->SetText(value.empty() ? "(none)" : value.c_str());
}

bool CBaseCameraProperties::WriteName(ipcapture::ICapabilityResults* sink) {
    if (model.empty()) return false;
    const std::string name = manufacturer.empty() ? model : manufacturer + " " + model;
    sink->SetName(name.c_str());
    return true;
}

void CBaseCameraProperties::WriteDeviceFields(ipcapture::ICapabilityResults* sink) {
    SetText(sink->GetDeviceField(1), deviceInfo.address);
    SetText(sink->GetDeviceField(2), FormatString("%hu", deviceInfo.port));
    SetText(sink->GetDeviceField(3), deviceInfo.userName);
    SetText(sink->GetDeviceField(4), deviceInfo.password);
}

bool CBaseCameraProperties::WriteCodecs(ipcapture::ICapabilityResults* sink) {
    bool any = false;
    for (int32_t codec : codecs) {
        int32_t item = -1;
        switch (codec) {
            case CODEC_H264: item = ITEM_H264; break;
            case CODEC_MPEG4: item = ITEM_MPEG4; break;
            case CODEC_JPEG: item = ITEM_JPEG; break;
            default: continue;
        }
        sink->SetItem(item, 1);
        any = true;
    }
    if (!any || streamCount == 0) return false;
    sink->SetItem(ITEM_STREAMS, static_cast<int32_t>(streamCount));
    return true;
}

bool CBaseCameraProperties::WriteFrameSizes(ipcapture::ICapabilityResults* sink) {
    ipcapture::IFrameSizeList* list = sink->GetFrameSizeList();
    const uint32_t fallback = FrameIntervalOf(FallbackFrameRate(frameRates, videoStandard));
    for (const FRAME_SIZE& size : frameSizes) {
        if (list == nullptr) break;
        const std::string text = FormatString("%ux%u", static_cast<unsigned>(size.width),
                                              static_cast<unsigned>(size.height));
        list->Add(text.c_str(), size.width, size.height,
                  size.minFrameIntervalMs != 0 ? size.minFrameIntervalMs : fallback);
    }
    return !frameSizes.empty();
}

bool CBaseCameraProperties::WriteFrameRates(ipcapture::IFrameIntervalList* list) {
    if (frameRates.empty()) return false;
    if (list == nullptr) return true;
    for (uint32_t rate : frameRates) {
        if (rate != 0) list->Add(FrameIntervalOf(rate));
    }
    const uint32_t rate = DefaultFrameRate(frameRates, defaultFrameRate);
    if (rate != 0) list->SetDefault(FrameIntervalOf(rate));
    return true;
}

void CBaseCameraProperties::WriteFlagsAndAudio(ipcapture::ICapabilityResults* sink) {
    if (capFlag1) sink->SetItem(ITEM_FLAG1, 1);
    if (capFlag5) sink->SetItem(ITEM_FLAG5, 1);
    sink->SetItem(ITEM_FLAG11, capFlag11 ? 1 : 0);
    sink->SetItem(ITEM_FLAG12, capFlag12 ? 1 : 0);
    if (inputCount != 0) sink->SetItem(ITEM_INPUTS, static_cast<int32_t>(inputCount));
    if (outputCount != 0) sink->SetItem(ITEM_OUTPUTS, static_cast<int32_t>(outputCount));
    if (capValue13 != 0 && capMode != 2) {
        sink->SetItem(ITEM_VALUE13, static_cast<int32_t>(capValue13));
        sink->SetItem(ITEM_15, 0);
        sink->SetItem(ITEM_MODE14, capMode == 1 ? 1 : 0);
        sink->SetItem(ITEM_16, 0);
        sink->SetItem(ITEM_17, 0);
    }
    if (audioInput.count != 0) {
        sink->SetItem(ITEM_AUDIO_INPUTS, static_cast<int32_t>(audioInput.count));
        WriteGroup(kAudioInputGroup, audioInput.ToText(), sink, 1, "Audio Input Parameters");
    }
    if (audioOutput.count != 0)
        WriteGroup(kAudioOutputGroup, audioOutput.ToText(), sink, 1, "Audio Output Parameters");
}

bool CBaseCameraProperties::SaveResults(ipcapture::ICapabilityResults* sink) {
    if (sink == nullptr) return false;
    if (!WriteName(sink)) return false;
    WriteDeviceFields(sink);
    if (!WriteCodecs(sink)) return false;
    if (!WriteFrameSizes(sink)) return false;
    if (!WriteFrameRates(sink->GetFrameIntervalList(kFrameIntervalKind))) return false;
    WriteFlagsAndAudio(sink);
    return WriteGroups(sink);
}

}  // namespace zentavo
