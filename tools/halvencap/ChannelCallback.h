// The channel callback of `record`: every frame the driver offers is
// written by the recorder before the driver releases it.
#pragma once

#include <atomic>
#include <cstdint>

#include "HostFrame.h"
#include "Recorder.h"
#include "host/HostContract.h"

namespace zentavo {
namespace cli {

class ChannelCallback final : public ipcapture::IChannelCallback {
public:
    ChannelCallback(FrameFactory& factory, Recorder& recorder) : m_factory(factory), m_recorder(recorder) {}

    // Accepted unless the frame is not one of ours, is empty, or the disk
    // refused it: a refusal tells the driver the host is not getting video.
    bool OnFrame(ipcapture::IHostFrame* frame) override;
    void OnStreamLost() override { ++m_lost; }

    uint64_t Offered() const { return m_offered; }
    uint64_t Refused() const { return m_refused; }
    uint64_t Lost() const { return m_lost; }

private:
    FrameFactory& m_factory;
    Recorder& m_recorder;
    std::atomic<uint64_t> m_offered{0};
    std::atomic<uint64_t> m_refused{0};
    std::atomic<uint64_t> m_lost{0};
};

}  // namespace cli
}  // namespace zentavo
