// A stand-in for the driver's services face, for unit tests of components
// that log, read the device record or the numbered parameters, or need the
// host's frame factory. Log lines are recorded and can be waited for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/IDriver.h"

namespace halvencap_test {

struct LogLine {
    int level;
    std::string text;
};

class FakeDriver : public zentavo::IDriver {
public:
    FakeDriver();

    // IDebugMessage / IDriver
    void* DeletingDestructor(unsigned flags) override;
    std::string GetDeviceName() override;
    void Message(int level, const char* format, ...) override;
    std::string GetDriverName() override { return driverName; }
    std::string GetHostDirectory() override { return "C:\\host\\"; }
    zentavo::DEVICE_INFO* GetDeviceInfo() override { return &device; }
    std::pair<uint32_t, uint32_t> GetIOCounts() override { return {inputCount, outputCount}; }
    void* GetHostContext() override { return hostContext; }
    int32_t GetModeParameter() override { return 0; }
    int32_t GetVideoFormat() override { return videoFormat; }
    uint32_t GetChannelCount() override { return channelCount; }
    std::string GetParamString(int key) override;
    int32_t GetParamInt(int key) override;

    // Test access.
    std::vector<LogLine> Lines() const;
    size_t CountContaining(const std::string& needle) const;
    bool WaitForLine(const std::string& needle, std::chrono::milliseconds timeout) const;
    void ClearLines();

    zentavo::DEVICE_INFO device;
    std::map<int, std::string> params;
    std::string driverName = "Halvencap";
    uint32_t inputCount = 0;
    uint32_t outputCount = 0;
    uint32_t channelCount = 1;
    int32_t videoFormat = 1;
    void* hostContext = nullptr;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<LogLine> m_lines;
};

}  // namespace halvencap_test
