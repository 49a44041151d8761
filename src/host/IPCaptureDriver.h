// Device-independent base of the driver object: implements the host's
// interface levels, keeps the device record and the host's configuration and
// routes log lines to the host's debug sink.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "channels/ICameraChannel.h"
#include "host/DeviceInfo.h"
#include "host/DriverInterfaces.h"
#include "host/HostVersion.h"
#include "host/IDriver.h"

namespace zentavo {

class CIPVideoCapture;

class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx5,
                         public IDriver,
                         public IVideoChannelCreator {
public:
    // Declared first so that they follow the host levels in the primary
    // vtable (slots 13 to 17), ahead of any entry the compiler appends for
    // the secondary faces.
    virtual bool OpenDevice(ipcapture::IDeviceConfig* config) = 0;  // 13
    virtual void OnClose() {}                                        // 14
    virtual bool PrepareDevice() = 0;                                // 15
    virtual bool CreateIO() = 0;                                     // 16
    virtual void LogOpened(const std::string& firmware);             // 17

    CIPCaptureDriver();
    CIPCaptureDriver(const CIPCaptureDriver&) = delete;
    CIPCaptureDriver& operator=(const CIPCaptureDriver&) = delete;

    // Slot 0 of all three faces.
    void* DeletingDestructor(unsigned flags) override;

    // IIPCaptureDriver .. IIPCaptureDriverEx5
    bool Open(ipcapture::IDebugSink* sink, void* frameFactory,
              ipcapture::IDeviceConfig* config) override;
    void Close() override;
    ipcapture::IIPVideoCapture* GetVideoCapture() override;
    ICaptureIOApi* GetIOApi() override { return m_io; }
    int32_t GetReservedA() override { return 0; }
    void* GetAuxObject() override { return m_auxObject; }
    int32_t GetReservedB() override { return 0; }
    ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override;
    void* GetAuxObjectEx() override { return m_auxObject; }
    int32_t GetReservedC() override { return 0; }
    int32_t GetReservedD() override { return 0; }
    int32_t GetReservedE() override { return 0; }

    // IDriver
    std::string GetDeviceName() override;
    void Message(int level, const char* format, ...) override;
    std::string GetHostDirectory() override { return m_hostDirectory; }
    DEVICE_INFO* GetDeviceInfo() override { return &m_deviceInfo; }
    std::pair<uint32_t, uint32_t> GetIOCounts() override { return {m_inputCount, m_outputCount}; }
    void* GetHostContext() override { return m_hostContext; }
    int32_t GetModeParameter() override { return m_modeParameter; }
    int32_t GetVideoFormat() override { return m_videoFormat; }
    uint32_t GetChannelCount() override { return m_channelCount; }
    std::string GetParamString(int key) override;
    int32_t GetParamInt(int key) override;

    const HOST_VERSION& GetHostVersion() const { return m_hostVersion; }
    void SetHostVersion(const HOST_VERSION& version) { m_hostVersion = version; }

    virtual ~CIPCaptureDriver();

protected:
    void ReadConfiguration(ipcapture::IDeviceConfig* config);

    ipcapture::IDebugSink* m_debugSink = nullptr;
    void* m_hostContext = nullptr;
    std::map<int32_t, std::string> m_parameters;
    HOST_VERSION m_hostVersion;
    std::string m_hostDirectory;
    DEVICE_INFO m_deviceInfo;
    uint32_t m_inputCount = 0;
    uint32_t m_outputCount = 0;
    uint32_t m_channelCount = 0;
    int32_t m_videoFormat = 0;
    int32_t m_modeParameter = 0;
    ICaptureIOApi* m_io = nullptr;
    CIPVideoCapture* m_videoCapture = nullptr;
    IChannelCompanion* m_auxObject = nullptr;  // never created by this driver
};

}  // namespace zentavo
