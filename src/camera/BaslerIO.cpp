#include "camera/BaslerIO.h"

#include "camera/ParamExchange.h"
#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

std::vector<uint32_t> ReadLineList(const std::string& key, const std::string& text) {
    std::vector<uint32_t> lines;
    for (const std::string& part : Split(FindValue(key, "=", text, "; \t\r\n"), ','))
        lines.push_back(ParseUnsignedStrict(part));
    return lines;
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

void CBaslerIO::OnStop() {
    m_inputsConfigured = false;
    m_outputsConfigured = false;
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
    if (result.m_code != RESULT_OK) Log(result.m_level, "%s", result.m_text.c_str());
    return result.m_code == RESULT_OK;
}

bool CBaslerIO::ConfigureLines(Role role, Web::CHttpSender& sender, CEvent& stopEvent) {
    const std::vector<uint32_t>& lines = role == Role::Input ? m_lines.inputs : m_lines.outputs;
    const char* direction = role == Role::Input ? "Input" : "Output";
    const char* function = role == Role::Input ? "Monitor" : "UserOutput";
    bool result = true;
    for (uint32_t line : lines) {
        if (stopEvent.Wait(0)) return result;
        CBaslerRequest read;
        read.AddSetValue("IO.IOSelector", line);
        read.AddGetValue("IO.Direction");
        read.AddGetValue("IO.Function");
        read.AddGetValue("IO.Invert");
        if (!Perform(read, sender, stopEvent)) return false;

        const std::vector<PARAM_PAIR> settings = {
            {"IO.IOSelector", FormatString("%u", line)},
            {"IO.Direction", direction},
            {"IO.Function", function},
            {"IO.Invert", "0"},
        };
        CBaslerRequest write;
        write.AddSetValue("IO.IOSelector", line);
        read.AddChangedValues(write, settings);
        result = Perform(write, sender, stopEvent);
        if (!result) return false;
    }
    return result;
}

bool CBaslerIO::AnsweredBefore() const {
    // An output request with nothing to send (unmapped index, unknown state)
    // counts as done once the device has answered the output side.
    return m_outputSender.m_statusCode != 0;
}

bool CBaslerIO::ChangeOutputState(uint32_t index, uint32_t state) {
    CEvent& stop = OutputStopEvent();
    if (!m_outputsConfigured) m_outputsConfigured = ConfigureLines(Role::Output, m_outputSender, stop);
    // A failed exchange is a failure, whatever the device answered before:
    // hiding it would keep the host from hearing about a dead camera.
    if (!m_outputsConfigured) return false;
    const char* value = state == OUTPUT_OFF ? "0" : state == OUTPUT_ON ? "1" : nullptr;
    if (index >= m_lines.outputs.size() || value == nullptr) return AnsweredBefore();
    CBaslerRequest request;
    request.AddSetValue("IO.IOSelector", m_lines.outputs[index]);
    request.AddSetValue("IO.State", value);
    if (Perform(request, m_outputSender, stop)) return true;
    m_inputsConfigured = false;
    m_outputsConfigured = false;
    return false;
}

bool CBaslerIO::GetInputStates(uint32_t count) {
    CEvent& stop = InputStopEvent();
    if (!m_inputsConfigured) m_inputsConfigured = ConfigureLines(Role::Input, m_inputSender, stop);
    if (m_inputsConfigured) {
        CBaslerRequest request;
        request.AddGetValue("IO.MonitorAll");
        if (Perform(request, m_inputSender, stop)) {
            const std::string value = request.GetValue("IO.MonitorAll");
            if (value.empty()) {
                for (uint32_t i = 0; i < count; ++i) OnInputState(i, INPUT_UNKNOWN);
            } else {
                const uint32_t mask = ParseUnsignedStrict(value);
                for (uint32_t i = 0; i < m_lines.inputs.size(); ++i) {
                    const uint32_t bit = m_lines.inputs[i] % 32;
                    OnInputState(i, (mask >> bit) & 1u ? INPUT_ACTIVE : INPUT_INACTIVE);
                }
            }
            return true;
        }
        m_inputsConfigured = false;
        m_outputsConfigured = false;
    }
    return false;
}

}  // namespace zentavo
