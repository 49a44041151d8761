#include "camera/BaslerIO.h"

#include "camera/ParamExchange.h"
#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

const char* const kLineListTerminators = "; \t\r\n";

std::vector<uint32_t> ReadLineList(const std::string& key, const std::string& text) {
    std::vector<uint32_t> lines;
    for (const std::string& part : Split(FindValue(key, "=", text, kLineListTerminators), ','))
        lines.push_back(ParseUnsignedStrict(part));
    return lines;
}

const char* CameraStateText(uint32_t state) {
    if (state == OUTPUT_OFF) return "0";
    if (state == OUTPUT_ON) return "1";
    return nullptr;
}

}  // namespace

IO_LINE_LISTS ParseIOLineLists(const std::string& text) {
    IO_LINE_LISTS lists;
    lists.inputs = ReadLineList("input", text);
    lists.outputs = ReadLineList("output", text);
    return lists;
}

CBaslerIO::CBaslerIO(IDriver* driver)
    : CIOBase(driver),
      CLoggerInstance(driver),
      m_inputSender(*driver->GetDeviceInfo()),
      m_outputSender(*driver->GetDeviceInfo()),
      m_lines(ParseIOLineLists(driver->GetParamString(4))) {}

CBaslerIO::~CBaslerIO() {
    // The threads call into this layer: stop them while it still exists,
    // aborting any exchange under way.
    InputStopEvent().Set();
    OutputStopEvent().Set();
    OnStop();
    ShutDownThreads();
}

void CBaslerIO::ForgetConfiguration() {
    m_inputsConfigured = false;
    m_outputsConfigured = false;
}

void CBaslerIO::OnStart() {
    // A configuration cut short by the last stop may have marked its role as
    // done after OnStop had cleared it; every run starts from scratch.
    ForgetConfiguration();
}

void CBaslerIO::OnStop() {
    ForgetConfiguration();
    m_inputSender.CloseRequest();
    m_outputSender.CloseRequest();
}

bool CBaslerIO::Perform(CBaslerRequest& request, Web::CHttpSender& sender, CEvent& stopEvent) {
    const std::string text = request.BuildRequest();
    if (text.empty()) return true;
    if (stopEvent.Wait(0)) return false;
    const DEVICE_INFO* device = m_driver->GetDeviceInfo();
    const std::string deviceName =
        FormatString("device %s (%s)", device->model.c_str(), m_driver->GetDeviceName().c_str());
    const CResultDef result = ExchangeParameters(request, text, sender, deviceName);
    if (result.m_code == RESULT_OK) return true;
    Log(result.m_level, "%s", result.m_text.c_str());
    // Whatever the camera lost (power, settings), both roles are set up
    // again before the next operation.
    ForgetConfiguration();
    return false;
}

bool CBaslerIO::ConfigureLine(Role role, uint32_t line, Web::CHttpSender& sender, CEvent& stopEvent) {
    CBaslerRequest read;
    read.AddSetValue("IO.IOSelector", line);
    read.AddGetValue("IO.Direction");
    read.AddGetValue("IO.Function");
    read.AddGetValue("IO.Invert");
    if (!Perform(read, sender, stopEvent)) return false;

    const bool input = role == Role::Input;
    const std::vector<PARAM_PAIR> settings = {
        {"IO.IOSelector", FormatString("%u", line)},
        {"IO.Direction", input ? "Input" : "Output"},
        {"IO.Function", input ? "Monitor" : "UserOutput"},
        {"IO.Invert", "0"},
    };
    // The selector is never read back, so it always counts as changed and
    // the write always goes out, carrying it and whatever else differs.
    CBaslerRequest write;
    write.AddSetValue("IO.IOSelector", line);
    read.AddChangedValues(write, settings);
    return Perform(write, sender, stopEvent);
}

bool CBaslerIO::ConfigureLines(Role role, Web::CHttpSender& sender, CEvent& stopEvent) {
    const std::vector<uint32_t>& lines = role == Role::Input ? m_lines.inputs : m_lines.outputs;
    for (uint32_t line : lines) {
        if (stopEvent.Wait(0)) break;
        if (!ConfigureLine(role, line, sender, stopEvent)) return false;
    }
    return true;
}

bool CBaslerIO::OutputSideAnswered() const { return m_outputSender.m_statusCode != 0; }

bool CBaslerIO::ChangeOutputState(uint32_t index, uint32_t state) {
    CEvent& stop = OutputStopEvent();
    if (!m_outputsConfigured) m_outputsConfigured = ConfigureLines(Role::Output, m_outputSender, stop);
    // A failed exchange is a failure, whatever the camera answered before:
    // hiding it would keep the host from ever hearing about a dead camera.
    if (!m_outputsConfigured) return false;
    const char* value = CameraStateText(state);
    if (index >= m_lines.outputs.size() || value == nullptr) {
        // Nothing to send: done, provided the camera has answered the
        // output side at some point.
        return OutputSideAnswered();
    }
    CBaslerRequest request;
    request.AddSetValue("IO.IOSelector", m_lines.outputs[index]);
    request.AddSetValue("IO.State", value);
    return Perform(request, m_outputSender, stop);
}

bool CBaslerIO::GetInputStates(uint32_t count) {
    CEvent& stop = InputStopEvent();
    if (!m_inputsConfigured) m_inputsConfigured = ConfigureLines(Role::Input, m_inputSender, stop);
    // As on the output side, a failed read must reach the wrappers, so that
    // the inputs are reported again once the camera answers.
    if (!m_inputsConfigured) return false;
    CBaslerRequest request;
    request.AddGetValue("IO.MonitorAll");
    if (!Perform(request, m_inputSender, stop)) return false;
    const std::string value = request.GetValue("IO.MonitorAll");
    if (value.empty()) {
        for (uint32_t i = 0; i < count; ++i) OnInputState(i, INPUT_UNKNOWN);
        return true;
    }
    const uint32_t mask = ParseUnsignedStrict(value);
    for (size_t i = 0; i < m_lines.inputs.size(); ++i) {
        const uint32_t bit = m_lines.inputs[i] % 32;
        OnInputState(static_cast<uint32_t>(i), ((mask >> bit) & 1u) != 0 ? INPUT_ACTIVE : INPUT_INACTIVE);
    }
    return true;
}

}  // namespace zentavo
