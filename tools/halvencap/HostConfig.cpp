#include "HostConfig.h"

namespace zentavo {
namespace cli {

DeviceConfig::DeviceConfig(const Options& options)
    : m_address(options.address),
      m_port(options.port),
      m_videoFormat(static_cast<int32_t>(options.format)),
      m_user(options.user),
      m_password(options.password),
      m_inputCount(static_cast<uint32_t>(options.ioLines.inputs.size())),
      m_outputCount(static_cast<uint32_t>(options.ioLines.outputs.size())) {
    m_params.push_back(PARAM1_VALUE);
    // "(none)" is how a host marks a parameter nobody filled in.
    m_params.push_back("(none)");  // firmware version as the host knows it
    m_params.push_back("(none)");  // sensor area: leave the camera's own
    m_params.push_back(options.ioLinesText);
}

const char* DeviceConfig::GetParameter(int32_t index) {
    if (index < 1 || static_cast<size_t>(index) > m_params.size()) return nullptr;
    return m_params[static_cast<size_t>(index) - 1].c_str();
}

}  // namespace cli
}  // namespace zentavo
