// Digital I/O of this camera family: host indexes map to camera I/O lines
// (configuration parameter 4), each line is configured once for its role,
// outputs switch through "IO.State" and all inputs are read at once from the
// "IO.MonitorAll" bit mask.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "camera/BaslerRequest.h"
#include "host/LoggerInstance.h"
#include "io/IOBase.h"
#include "web/HttpSender.h"

namespace zentavo {

struct IO_LINE_LISTS {
    std::vector<uint32_t> inputs;
    std::vector<uint32_t> outputs;
};

// Reads "input=0,1;output=2" style text (strict digits; anything else is 0).
IO_LINE_LISTS ParseIOLineLists(const std::string& text);

class CBaslerIO : public CIOBase, public CLoggerInstance {
public:
    explicit CBaslerIO(IDriver* driver);
    ~CBaslerIO() override;

    bool ChangeOutputState(uint32_t index, uint32_t state) override;
    bool GetInputStates(uint32_t count) override;
    void OnStart() override;
    void OnStop() override;

    const IO_LINE_LISTS& Lines() const { return m_lines; }

private:
    enum class Role { Input, Output };

    bool Perform(CBaslerRequest& request, Web::CHttpSender& sender, CEvent& stopEvent);
    bool ConfigureLines(Role role, Web::CHttpSender& sender, CEvent& stopEvent);
    bool ConfigureLine(Role role, uint32_t line, Web::CHttpSender& sender, CEvent& stopEvent);
    void ForgetConfiguration();
    bool OutputSideAnswered() const;

    Web::CHttpSender m_inputSender;
    Web::CHttpSender m_outputSender;
    IO_LINE_LISTS m_lines;
    // Written by both I/O threads and by the host's stop; a stale value costs
    // at most one more configuration or one more failed attempt.
    std::atomic<bool> m_inputsConfigured{false};
    std::atomic<bool> m_outputsConfigured{false};
};

}  // namespace zentavo
