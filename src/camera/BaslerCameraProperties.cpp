#include "camera/BaslerCameraProperties.h"

#include "camera/CapabilityAnswers.h"
#include "camera/ParamExchange.h"
#include "runtime/TextUtils.h"
#include "web/HUtils.h"

namespace zentavo {

namespace {

const char* const kOperationMode = "Global.OperationMode";
const char* const kModeNormal = "Normal";
const char* const kModeConfigure = "Configure";
const char* const kModelName = "SysInfo.ModelName";
const char* const kManName = "SysInfo.ManName";
const char* const kFirmware = "SysInfo.FirmwareVersion";
const char* const kAoiLeft = "Sensor.AOILeft";
const char* const kAoiTop = "Sensor.AOITop";
const char* const kAoiWidth = "Sensor.AOIWidth";
const char* const kAoiHeight = "Sensor.AOIHeight";
const char* const kFrameRateMode = "Sensor.FrameRateMode";
const char* const kStreamSelector = "Stream.StreamSelector";
const char* const kOutputSize = "Stream.OutputSize";
const char* const kEncoderType = "Stream.EncoderType";
const char* const kIOSelector = "IO.IOSelector";
const char* const kIODirection = "IO.Direction";
const char* const kAuthPath = "/cgi-bin/auth_if.cgi?";

const uint32_t kStatusUnauthorized = 401;

}  // namespace

CBaslerCameraProperties::CBaslerCameraProperties(uint32_t standard, const DEVICE_INFO& device)
    : CBaseCameraProperties(standard, device), httpSender(deviceInfo) {}

void CBaslerCameraProperties::Cancel() { httpSender.CloseRequest(); }

bool CBaslerCameraProperties::RequestAuthMethod(std::string& body, const std::string& method) {
    if (StopRequested() || method.empty()) {
        body.clear();
        return false;
    }
    if (!HUtils::RequestGetRD(body, httpSender, kAuthPath + method).Succeeded()) {
        body.clear();
        return false;
    }
    return ConfirmsAuthMethod(body, method);
}

bool CBaslerCameraProperties::CheckLogin() {
    std::string body;
    if (!RequestAuthMethod(body, "Status")) return false;
    if (ReportsAuthEnabled(body)) return true;
    return RequestAuthMethod(body, "Enable");
}

bool CBaslerCameraProperties::ExecuteRequest(CBaslerRequest& request) {
    CResultDef outcome(LOG_SILENT, 2, std::string());
    const std::string text = request.BuildRequest();
    if (!StopRequested() && !text.empty()) {
        const std::string deviceName = FormatString("device %s (%s:%u)", deviceInfo.model.c_str(),
                                                    deviceInfo.address.c_str(),
                                                    static_cast<unsigned>(deviceInfo.port));
        outcome = ExchangeParameters(request, text, httpSender, deviceName);
    }
    return outcome.m_code == RESULT_OK;
}

bool CBaslerCameraProperties::FetchProperties(int32_t& code) {
    m_failureStatusKept = false;
    const bool ok = CheckLogin() && ReadSystemInfo() && ReadStreamCapabilities() && ReadIOConfiguration();
    if (!ok) {
        const uint32_t status = m_failureStatusKept ? m_failureStatus : httpSender.StatusCode();
        code = status == kStatusUnauthorized ? 1 : 3;
        return false;
    }
    return !StopRequested();
}

bool CBaslerCameraProperties::ReadSystemInfo() {
    CBaslerRequest request;
    for (const char* name : {kOperationMode, kModelName, "SysInfo.DeviceVersion", kManName,
                             "SysInfo.ManSpecInfo", kFirmware, "SysInfo.MACAddress"})
        request.AddGetValue(name);
    if (!ExecuteRequest(request)) return false;
    const std::string modelName = request.GetValue(kModelName);
    const std::string mode = request.GetValue(kOperationMode);
    if (modelName.empty() || mode.empty()) return false;
    std::string maker = request.GetValue(kManName);
    if (maker.empty() || maker == "none") maker = "Basler";
    manufacturer = maker;
    model = modelName;
    firmwareVersion = request.GetValue(kFirmware);
    normalMode = mode == kModeNormal;
    return true;
}

void CBaslerCameraProperties::KeepFailureStatus() {
    if (m_failureStatusKept) return;
    m_failureStatus = httpSender.StatusCode();
    m_failureStatusKept = true;
}

bool CBaslerCameraProperties::SwitchOperationMode(const char* mode) {
    CBaslerRequest request;
    request.AddSetValue(kOperationMode, std::string(mode));
    return ExecuteRequest(request);
}

bool CBaslerCameraProperties::ReadStreamCapabilities() {
    CBaslerRequest request;
    if (normalMode) request.AddSetValue(kOperationMode, std::string(kModeConfigure));
    for (const char* name : {kAoiTop, kAoiLeft, kAoiWidth, kAoiHeight}) request.AddGetValue(name);
    request.AddGetEntries(kFrameRateMode);
    request.AddGetValue(kStreamSelector);
    request.AddGetRange(kStreamSelector);
    request.AddGetEntries(kOutputSize);
    request.AddGetEntries(kEncoderType);
    request.AddGetValue(kEncoderType);
    if (!ExecuteRequest(request)) {
        // The camera may have taken the switch before failing the rest; left
        // in Configure it would stream to nobody. The failure keeps the code
        // of the exchange that failed.
        if (normalMode) {
            KeepFailureStatus();
            SwitchOperationMode(kModeNormal);
        }
        return false;
    }
    streamCount = 1;
    bool result = ReadSensorArea(request) && ReadFrameRates(request) && ReadStreams(request);
    if (normalMode && !SwitchOperationMode(kModeNormal)) result = false;
    return result;
}

bool CBaslerCameraProperties::ReadSensorArea(const CBaslerRequest& request) {
    return SensorAreaText(request.GetValue(kAoiLeft), request.GetValue(kAoiTop), request.GetValue(kAoiWidth),
                          request.GetValue(kAoiHeight), aoiText);
}

bool CBaslerCameraProperties::ReadFrameRates(const CBaslerRequest& request) {
    frameRates = FrameRatesOfModes(request.GetEntryNames(kFrameRateMode));
    return !frameRates.empty();
}

bool CBaslerCameraProperties::ReadStreams(const CBaslerRequest& request) {
    const uint32_t selected = ParseUnsignedStrict(request.GetValue(kStreamSelector));
    const uint32_t first = request.GetRange(kStreamSelector).min;
    if (selected == first) return ReadEncoders(request);
    CBaslerRequest firstStream;
    firstStream.AddSetValue(kStreamSelector, first);
    firstStream.AddGetEntries(kOutputSize);
    firstStream.AddGetEntries(kEncoderType);
    firstStream.AddGetValue(kEncoderType);
    if (!ExecuteRequest(firstStream)) return false;
    return ReadEncoders(firstStream);
}

bool CBaslerCameraProperties::ReadEncoders(const CBaslerRequest& request) {
    codecs.clear();
    EntryNameSet sizes;
    const std::string current = request.GetValue(kEncoderType);
    bool switched = false;
    bool read = true;
    for (const std::string& name : request.GetEntryNames(kEncoderType)) {
        const int32_t codec = CodecOfEncoderName(name);
        if (codec == 0) continue;
        codecs.insert(codec);
        if (name == current) {
            for (const std::string& size : request.GetEntryNames(kOutputSize)) sizes.insert(size);
            continue;
        }
        CBaslerRequest other;
        other.AddSetValue(kEncoderType, name);
        other.AddGetEntries(kOutputSize);
        switched = true;
        if (!ExecuteRequest(other)) {
            KeepFailureStatus();
            read = false;
            break;
        }
        for (const std::string& size : other.GetEntryNames(kOutputSize)) sizes.insert(size);
    }
    // Asking for another compression's sizes switched the camera's stream
    // to it; other clients of the camera expect the compression it had.
    if (switched && !current.empty()) {
        CBaslerRequest restore;
        restore.AddSetValue(kEncoderType, current);
        ExecuteRequest(restore);
    }
    if (!read || codecs.empty()) return false;
    return ReadFrameSizes(sizes);
}

bool CBaslerCameraProperties::ReadFrameSizes(const EntryNameSet& sizes) {
    frameSizes.clear();
    for (const std::string& name : sizes) {
        uint16_t width = 0, height = 0;
        if (!name.empty() && ReadSizeName(name, width, height)) AddFrameSize(width, height);
    }
    return !frameSizes.empty();
}

bool CBaslerCameraProperties::ReadIOConfiguration() {
    CBaslerRequest request;
    request.AddGetRange(kIOSelector);
    if (ExecuteRequest(request) && ReadIOLines(request.GetRange(kIOSelector))) return true;
    return LastExchangeAnswered();
}

bool CBaslerCameraProperties::ReadIOLines(const PARAM_RANGE& range) {
    inputCount = 0;
    outputCount = 0;
    ioText.clear();
    std::string inputs, outputs;
    // 64 bits, so that a range ending at the largest line number ends.
    for (uint64_t line = range.min; line <= range.max && !StopRequested(); ++line) {
        const uint32_t i = static_cast<uint32_t>(line);
        CBaslerRequest request;
        request.AddSetValue(kIOSelector, i);
        request.AddGetValue(kIODirection);
        if (!ExecuteRequest(request)) return LastExchangeAnswered();
        const std::string direction = request.GetValue(kIODirection);
        if (direction == "Input") {
            inputs += (inputs.empty() ? "input=" : ",") + FormatString("%u", i);
            ++inputCount;
        } else if (direction == "Output") {
            outputs += (outputs.empty() ? "output=" : ",") + FormatString("%u", i);
            ++outputCount;
        }
    }
    ioText = inputs;
    if (!outputs.empty()) {
        if (!ioText.empty()) ioText += "; ";
        ioText += outputs;
    }
    return true;
}

bool CBaslerCameraProperties::WriteGroups(ipcapture::ICapabilityResults* sink) {
    WriteGroup(1, FormatString("%u", static_cast<unsigned>(videoStandard)), sink, 0, "KOVA Video Standard");
    WriteGroup(2, firmwareVersion, sink, 1, "Device Firmware Version");
    WriteGroup(3, aoiText, sink, 1, "Sensor AOI Configuration");
    WriteGroup(4, ioText, sink, 1, "Digital I/O Configuration");
    return true;
}

}  // namespace zentavo
