#include "camera/BaslerChannelHelper.h"

#include <vector>

#include "camera/ParamExchange.h"
#include "camera/StreamChoices.h"
#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

const char* const kOperationMode = "Global.OperationMode";
const char* const kSelector = "Stream.StreamSelector";
const char* const kOutputSize = "Stream.OutputSize";
const char* const kFrameRateMode = "Sensor.FrameRateMode";

}  // namespace

CBaslerChannelHelper::CBaslerChannelHelper(IDriver* driver)
    : CLoggerInstance(driver),
      m_device(*driver->GetDeviceInfo()),
      m_areaOfInterest(driver->GetParamString(3)),
      m_sender(m_device, driver) {}

CBaslerChannelHelper::~CBaslerChannelHelper() = default;

void CBaslerChannelHelper::AddStreamReads(CBaslerRequest& request) {
    request.AddGetValue(kSelector);
    request.AddGetValue("Stream.EncoderType");
    request.AddGetValue("Stream.EncoderMode");
    request.AddGetValue("Stream.Quality");
    request.AddGetValue("Stream.OutputScaling");
    request.AddGetValue("Stream.FrameRateScaling");
    request.AddGetValue(kOutputSize);
    request.AddGetRangeInc("Stream.Quality");
}

bool CBaslerChannelHelper::Execute(CBaslerRequest& request) {
    const std::string text = request.BuildRequest();
    if (text.empty()) return true;
    if (IsStopRequested()) return false;
    const std::string deviceName = FormatString("device %s (%s:%u)", m_device.model.c_str(), m_device.address.c_str(),
                                                static_cast<unsigned>(m_device.port));
    const CResultDef result = ExchangeParameters(request, text, m_sender, deviceName);
    if (result.m_code != RESULT_OK) Log(result.m_level, "%s", result.m_text.c_str());
    return result.m_code == RESULT_OK;
}

bool CBaslerChannelHelper::ConfigureStream() {
    CBaslerRequest r1;
    r1.AddGetValue(kOperationMode);
    r1.AddGetValue("Sensor.AOIWidth");
    r1.AddGetValue("Sensor.AOIHeight");
    r1.AddGetValue(kFrameRateMode);
    r1.AddGetEntries(kFrameRateMode);
    r1.AddGetRange(kSelector);
    AddStreamReads(r1);
    if (!Execute(r1)) return false;

    CBaslerRequest r2;
    const bool sensorChanged = SensorStep(r2, r1);
    m_streamIndex = r1.GetRange(kSelector).min;
    const bool selectorMatches = ParseUnsignedStrict(r1.GetValue(kSelector)) == m_streamIndex;
    if (selectorMatches && !sensorChanged) return EncoderStep(r1);
    if (!selectorMatches) r2.AddSetValue(kSelector, m_streamIndex);
    // The encoder step reads its current values from this request: without
    // the stream reads every value would look unset, the quality range too,
    // and the requested quality would never be written.
    AddStreamReads(r2);
    if (!Execute(r2)) return false;
    return EncoderStep(r2);
}

bool CBaslerChannelHelper::SensorStep(CBaslerRequest& target, const CBaslerRequest& current) {
    bool added = false;
    const std::vector<std::string> area = Split(m_areaOfInterest, ',');
    if (area.size() == 4 &&
        (area[2] != current.GetValue("Sensor.AOIWidth") || area[3] != current.GetValue("Sensor.AOIHeight"))) {
        target.AddSetValue(kOperationMode, "Configure");
        target.AddSetValue("Sensor.AOILeft", area[0]);
        target.AddSetValue("Sensor.AOITop", area[1]);
        target.AddSetValue("Sensor.AOIWidth", area[2]);
        target.AddSetValue("Sensor.AOIHeight", area[3]);
        added = true;
    }
    const std::string rate =
        ChooseFrameRateEntry(current.GetEntryNames(kFrameRateMode), GetStreamSettings().frameIntervalMs);
    if (!rate.empty() && rate != current.GetValue(kFrameRateMode)) {
        target.AddSetValue(kOperationMode, "Configure");
        target.AddSetValue(kFrameRateMode, rate);
        added = true;
    }
    return added;
}

bool CBaslerChannelHelper::EncoderStep(const CBaslerRequest& current) {
    bool needNormal = current.GetValue(kOperationMode) != "Normal";
    const STREAM_SETTINGS settings = GetStreamSettings();

    CBaslerRequest encoder;
    encoder.AddSetValue(kOperationMode, "Configure");
    encoder.AddSetValue(kSelector, m_streamIndex);
    const std::vector<PARAM_PAIR> wanted = {
        {"Stream.EncoderType", GetEncoderType()},
        {"Stream.EncoderMode", "VBR"},
        {"Stream.Quality", MapQuality(current.GetRangeInc("Stream.Quality"), settings.quality)},
        {"Stream.FrameRateScaling", "FpsScale_1_1"},
        {"Stream.OutputScaling", "Scale_1_1"},
    };
    if (current.AddChangedValues(encoder, wanted)) {
        if (!Execute(encoder)) return false;
        // The writes left the camera in "Configure" whatever it was in before.
        needNormal = true;
    }

    const bool sized = OutputSizeStep(current, needNormal);
    if (sized && needNormal) {
        CBaslerRequest normal;
        normal.AddSetValue(kOperationMode, "Normal");
        return Execute(normal);
    }
    return sized;
}

bool CBaslerChannelHelper::OutputSizeStep(const CBaslerRequest& current, bool& needNormal) {
    const STREAM_SETTINGS settings = GetStreamSettings();
    if (settings.width == 0 || settings.height == 0) return true;
    const std::string wanted = FormatString("Size_%ux%u", settings.width, settings.height);
    if (current.GetValue(kOutputSize) == wanted) return true;

    CBaslerRequest offer;
    offer.AddSetValue(kOperationMode, "Configure");
    offer.AddSetValue(kSelector, m_streamIndex);
    offer.AddGetValue(kOutputSize);
    offer.AddGetEntries(kOutputSize);
    if (!Execute(offer)) return false;
    needNormal = true;

    const std::string chosen = ChooseSizeEntry(offer.GetEntryNames(kOutputSize), wanted);
    if (chosen.empty() || chosen == offer.GetValue(kOutputSize)) return true;
    CBaslerRequest write;
    write.AddSetValue(kSelector, m_streamIndex);
    write.AddSetValue(kOutputSize, chosen);
    return Execute(write);
}

}  // namespace zentavo
