// Device and channel configuration as the program hands it to the driver:
// what a recording server would read from its device database, here taken
// from the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/HostContract.h"
#include "Options.h"

namespace zentavo {
namespace cli {

// Numbered driver parameters: 1 is required by the driver to open (its
// value is not interpreted), 4 carries the I/O line lists.
constexpr const char* PARAM1_VALUE = "1";
constexpr const char* DEVICE_MODEL = "Basler IP camera";

class DeviceConfig final : public ipcapture::IDeviceConfig,
                           public ipcapture::IDeviceDescription,
                           public ipcapture::IConnectionSettings {
public:
    explicit DeviceConfig(const Options& options);

    // IDeviceConfig
    ipcapture::IDeviceDescription* GetDeviceDescription() override { return this; }
    ipcapture::IConnectionSettings* GetConnectionSettings() override { return this; }
    const char* GetParameter(int32_t index) override;
    // IDeviceDescription
    const char* GetModel() override { return DEVICE_MODEL; }
    uint32_t GetChannelCount() override { return 1; }
    uint32_t GetInputCount() override { return m_inputCount; }
    uint32_t GetOutputCount() override { return m_outputCount; }
    // IConnectionSettings
    const char* GetAddress() override { return m_address.c_str(); }
    uint16_t GetPort() override { return m_port; }
    int32_t GetVideoFormat() override { return m_videoFormat; }
    const char* GetUserName() override { return m_user.c_str(); }
    const char* GetPassword() override { return m_password.c_str(); }

private:
    std::string m_address;
    uint16_t m_port;
    int32_t m_videoFormat;
    std::string m_user;
    std::string m_password;
    uint32_t m_inputCount;
    uint32_t m_outputCount;
    std::vector<std::string> m_params;  // parameter i+1
};

class ChannelConfig final : public ipcapture::IChannelConfig,
                            public ipcapture::IPicturePart,
                            public ipcapture::IPictureSize,
                            public ipcapture::IStreamPart {
public:
    explicit ChannelConfig(const Options& options)
        : m_width(options.width), m_height(options.height), m_intervalMs(options.intervalMs),
          m_quality(options.quality) {}

    ipcapture::IPicturePart* GetPicturePart() override { return this; }
    ipcapture::IStreamPart* GetStreamPart() override { return this; }
    ipcapture::IPictureSize* GetPictureSize() override { return this; }
    uint16_t GetWidth() override { return m_width; }
    uint16_t GetHeight() override { return m_height; }
    uint16_t GetFrameInterval() override { return m_intervalMs; }
    uint16_t GetQuality() override { return m_quality; }
    int32_t GetCompanionWanted() override { return 0; }

private:
    uint16_t m_width;
    uint16_t m_height;
    uint16_t m_intervalMs;
    uint16_t m_quality;
};

}  // namespace cli
}  // namespace zentavo
