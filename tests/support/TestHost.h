// The test host: real implementations of the objects a recording server hands
// to the driver (debug sink, device configuration, channel configuration,
// channel and I/O callbacks). Everything is thread-safe and can be waited on,
// because the driver calls these objects from its own threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/DebugInfo.h"
#include "host/HostContract.h"

namespace halvencap_test {

using namespace std::chrono_literals;

struct SinkLine {
    int level;
    std::string text;
};

class TestDebugSink : public zentavo::ipcapture::IDebugSink {
public:
    void OnDebugMessage(zentavo::ipcapture::CDebugInfoIf* info) override;

    std::vector<SinkLine> Lines() const;
    size_t Count(const std::string& needle) const;
    std::optional<SinkLine> Find(const std::string& needle) const;
    bool WaitFor(const std::string& needle, std::chrono::milliseconds timeout, size_t count = 1) const;
    void Clear();
    // Mirrors every line to stderr (useful when a test fails).
    bool echo = false;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<SinkLine> m_lines;
};

// Device configuration with its description and connection settings.
class TestDeviceConfig : public zentavo::ipcapture::IDeviceConfig,
                         public zentavo::ipcapture::IDeviceDescription,
                         public zentavo::ipcapture::IConnectionSettings {
public:
    // IDeviceConfig
    zentavo::ipcapture::IDeviceDescription* GetDeviceDescription() override { return this; }
    zentavo::ipcapture::IConnectionSettings* GetConnectionSettings() override { return this; }
    const char* GetParameter(int32_t index) override;
    // IDeviceDescription
    const char* GetModel() override { return Text(model); }
    uint32_t GetChannelCount() override { return channelCount; }
    uint32_t GetInputCount() override { return inputCount; }
    uint32_t GetOutputCount() override { return outputCount; }
    // IConnectionSettings
    const char* GetAddress() override { return Text(address); }
    uint16_t GetPort() override { return port; }
    int32_t GetVideoFormat() override { return videoFormat; }
    const char* GetUserName() override { return Text(userName); }
    const char* GetPassword() override { return Text(password); }

    // Unset optionals are handed to the driver as null texts.
    std::optional<std::string> model = std::string("TestCam");
    std::optional<std::string> address = std::string("127.0.0.1");
    std::optional<std::string> userName = std::string();
    std::optional<std::string> password = std::string();
    uint16_t port = 80;
    int32_t videoFormat = 1;
    uint32_t channelCount = 1;
    uint32_t inputCount = 0;
    uint32_t outputCount = 0;
    // Parameter i+1 is params[i]; an unset entry is a null (the end of the list).
    std::vector<std::optional<std::string>> params{std::string("1")};

private:
    static const char* Text(const std::optional<std::string>& s) { return s ? s->c_str() : nullptr; }
};

// Channel configuration: stream part, picture part and picture size.
class TestChannelConfig : public zentavo::ipcapture::IChannelConfig,
                          public zentavo::ipcapture::IPicturePart,
                          public zentavo::ipcapture::IPictureSize,
                          public zentavo::ipcapture::IStreamPart {
public:
    zentavo::ipcapture::IPicturePart* GetPicturePart() override { return this; }
    zentavo::ipcapture::IStreamPart* GetStreamPart() override { return this; }
    zentavo::ipcapture::IPictureSize* GetPictureSize() override { return this; }
    uint16_t GetWidth() override { return width; }
    uint16_t GetHeight() override { return height; }
    uint16_t GetFrameInterval() override { return frameIntervalMs; }
    uint16_t GetQuality() override { return quality; }
    int32_t GetCompanionWanted() override { return companion; }

    uint16_t width = 640;
    uint16_t height = 480;
    uint16_t frameIntervalMs = 100;
    uint16_t quality = 50;
    int32_t companion = 0;
};

// A plain picture size for ChangeChannel.
class TestPictureSize : public zentavo::ipcapture::IPictureSize {
public:
    TestPictureSize(uint16_t w, uint16_t h) : width(w), height(h) {}
    uint16_t GetWidth() override { return width; }
    uint16_t GetHeight() override { return height; }
    uint16_t width;
    uint16_t height;
};

// Channel callback: counts frames and loss reports; an optional hook sees
// every frame (for example to copy its data) before the answer is given.
class TestChannelCallback : public zentavo::ipcapture::IChannelCallback {
public:
    bool OnFrame(zentavo::ipcapture::IHostFrame* frame) override;
    void OnStreamLost() override;

    size_t Frames() const;
    size_t StreamLost() const;
    bool WaitFrames(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitStreamLost(size_t count, std::chrono::milliseconds timeout) const;

    std::function<void(zentavo::ipcapture::IHostFrame*)> onFrame;
    bool accept = true;
    bool throwOnFrame = false;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    size_t m_frames = 0;
    size_t m_lost = 0;
};

struct InputChange {
    uint32_t index;
    uint32_t state;
};

class TestIOCallback : public zentavo::ipcapture::IIOCallback {
public:
    void OnInputChanged(uint32_t index, uint32_t state) override;
    void OnIOFailure() override;

    std::vector<InputChange> Changes() const;
    size_t Failures() const;
    bool WaitChanges(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitFailures(size_t count, std::chrono::milliseconds timeout) const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<InputChange> m_changes;
    size_t m_failures = 0;
};

}  // namespace halvencap_test
