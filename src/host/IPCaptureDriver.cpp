#include "host/IPCaptureDriver.h"

#include <cstdarg>
#include <new>

#include "host/DebugInfo.h"
#include "host/IPVideoCapture.h"
#include "io/ICaptureIOApi.h"
#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

CIPCaptureDriver::CIPCaptureDriver()
    : m_hostVersion(ReadHostVersion("mondrel.dll")),
      m_hostDirectory(ReadHostDirectory()),
      m_deviceInfo(std::string(), 80, std::string(), std::string()) {}

CIPCaptureDriver::~CIPCaptureDriver() {
    // The device layer closes in its own destructor; this catches a base
    // that was never wrapped.
    delete m_videoCapture;
    m_videoCapture = nullptr;
    if (m_io != nullptr) m_io->DeletingDestructor(1);
    m_io = nullptr;
    delete m_auxObject;
    m_auxObject = nullptr;
}

void* CIPCaptureDriver::DeletingDestructor(unsigned flags) {
    if (flags & 1) {
        delete this;
    } else {
        this->~CIPCaptureDriver();
    }
    return this;
}

bool CIPCaptureDriver::Open(ipcapture::IDebugSink* sink, void* frameFactory,
                            ipcapture::IDeviceConfig* config) {
    // The host's call: out of memory anywhere in the opening is a failed
    // open, never an exception in the host.
    bool ok = false;
    try {
        ReadConfiguration(config);
        m_debugSink = sink;
        m_hostContext = frameFactory;
        m_videoCapture = new (std::nothrow) CIPVideoCapture(this, m_channelCount);
        ok = m_videoCapture != nullptr && CreateIO() && PrepareDevice() && OpenDevice(config);
    } catch (...) {
        ok = false;
    }
    if (!ok) Close();
    return ok;
}

void CIPCaptureDriver::ReadConfiguration(ipcapture::IDeviceConfig* config) {
    if (config == nullptr) return;
    ipcapture::IDeviceDescription* description = config->GetDeviceDescription();
    ipcapture::IConnectionSettings* connection = config->GetConnectionSettings();
    if (connection != nullptr) m_videoFormat = connection->GetVideoFormat();
    if (description != nullptr) {
        m_inputCount = description->GetInputCount();
        m_outputCount = description->GetOutputCount();
        m_channelCount = description->GetChannelCount();
    }
    if (connection != nullptr) {
        m_deviceInfo.address = OrEmpty(connection->GetAddress());
        m_deviceInfo.port = connection->GetPort();
        m_deviceInfo.userName = OrEmpty(connection->GetUserName());
        m_deviceInfo.password = OrEmpty(connection->GetPassword());
    }
    if (description != nullptr) m_deviceInfo.model = OrEmpty(description->GetModel());
    for (int32_t index = 1;; ++index) {
        const char* value = config->GetParameter(index);
        if (value == nullptr) break;
        m_parameters[index] = value;
    }
}

void CIPCaptureDriver::Close() {
    OnClose();
    delete m_videoCapture;
    m_videoCapture = nullptr;
    if (m_io != nullptr) m_io->DeletingDestructor(1);
    m_io = nullptr;
    delete m_auxObject;
    m_auxObject = nullptr;
}

ipcapture::IIPVideoCapture* CIPCaptureDriver::GetVideoCapture() { return m_videoCapture; }

ipcapture::IIPVideoCaptureEx* CIPCaptureDriver::GetVideoCaptureEx() { return m_videoCapture; }

std::string CIPCaptureDriver::GetDeviceName() {
    return m_deviceInfo.address + FormatString(":%hu", m_deviceInfo.port);
}

void CIPCaptureDriver::Message(int level, const char* format, ...) {
    if (format == nullptr) return;
    std::string text;
    try {
        va_list args;
        va_start(args, format);
        text = FormatStringV(format, args);
        va_end(args);
    } catch (...) {
        text.clear();
    }
    if (text.empty() || level == LOG_SILENT) return;
    const int mapped = MapLogLevel(m_hostVersion, level);
    ipcapture::IDebugSink* sink = m_debugSink;
    if (sink == nullptr) return;
    CDebugInfo info(static_cast<uint8_t>(mapped), text.c_str());
    try {
        sink->OnDebugMessage(&info);
    } catch (...) {
        // A failing host sink must not take the calling thread down.
    }
}

std::string CIPCaptureDriver::GetParamString(int key) {
    auto it = m_parameters.find(key);
    if (it == m_parameters.end() || it->second == "(none)") return std::string();
    return it->second;
}

int32_t CIPCaptureDriver::GetParamInt(int key) {
    auto it = m_parameters.find(key);
    int32_t value = 0;
    if (it == m_parameters.end() || !ParseInt(it->second, value)) return INT32_MIN;
    return value;
}

void CIPCaptureDriver::LogOpened(const std::string& firmware) {
    const std::string name = GetDriverName();
    if (name.empty() || m_deviceInfo.model.empty()) return;
    std::string line = FormatString("DRIVER IS OPENED (name: %s, device model: %s", name.c_str(),
                                    m_deviceInfo.model.c_str());
    if (!firmware.empty()) line += ", FW: " + firmware;
    line += FormatString(", address: %s:%u)", m_deviceInfo.address.c_str(),
                         static_cast<unsigned>(m_deviceInfo.port));
    Message(LOG_NOTICE, "%s", line.c_str());
}

}  // namespace zentavo
