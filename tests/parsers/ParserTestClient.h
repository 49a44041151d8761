// A media parser client for unit tests: records every offered frame (a
// snapshot taken while the frame is still the parser's), can refuse frames,
// and hands out capture times that show the timestamp it was asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "channels/IMediaParserClient.h"
#include "support/TestFrameFactory.h"

namespace halvencap_test {

class ParserTestClient : public zentavo::IMediaParserClient {
public:
    bool OnFrameReady(zentavo::ipcapture::IHostFrame* frame) override {
        offered.push_back(static_cast<TestFrame*>(frame)->Record(true));
        return accept;
    }
    std::pair<uint32_t, uint32_t> GetRequestedSize() override { return {640, 480}; }
    void GetSourceName(std::string& name) override { name = "Halvencap"; }
    void GetCaptureTime(uint32_t rtpTimestamp, SYSTEMTIME& time) override {
        timestamps.push_back(rtpTimestamp);
        time = SYSTEMTIME{};
        time.wYear = 2026;
        time.wMonth = 1;
        time.wDay = 1;
        time.wMilliseconds = static_cast<uint16_t>(rtpTimestamp % 1000);
    }

    bool accept = true;
    std::vector<FrameRecord> offered;
    std::vector<uint32_t> timestamps;
};

}  // namespace halvencap_test
