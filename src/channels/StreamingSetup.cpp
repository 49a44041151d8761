#include "channels/StreamingSetup.h"

#include <vector>

#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

const char* const kGopLength = "Stream.GopLength_ms";
const char* const kEnabled = "Streaming.Enabled";
const char* const kRtspPort = "Streaming.RTSPPort";
const char* const kMulticast = "Streaming.Multicast";
const char* const kCommit = "Streaming.Commit";
// The camera firmware's own spelling of the command operation.
const char* const kCommitOperation = "Excecute";
const uint32_t kWantedKeyFrameDistanceMs = 1000;

}  // namespace

std::string KeyFrameDistanceValue(const PARAM_RANGE& range) {
    if (range.min >= range.max) return std::string();
    uint32_t v = kWantedKeyFrameDistanceMs;
    if (v < range.min) v = range.min;
    if (v > range.max) v = range.max;
    if (range.inc > 1) {
        const uint32_t rest = (v - range.min) % range.inc;
        // Rounding up must not leave the range: the camera would refuse the
        // value on every connection attempt.
        const bool up = rest > range.inc / 2 && uint64_t(v) + (range.inc - rest) <= range.max;
        v = up ? v + (range.inc - rest) : v - rest;
    }
    return FormatString("%u", v);
}

void AddStreamingReads(CBaslerRequest& read, uint32_t streamIndex) {
    read.AddSetValue("Stream.StreamSelector", streamIndex);
    read.AddGetValue(kGopLength);
    read.AddGetRangeInc(kGopLength);
    read.AddGetValue(kEnabled);
    read.AddGetValue(kRtspPort);
    read.AddGetValue(kMulticast);
}

bool AddStreamingWrites(const CBaslerRequest& read, CBaslerRequest& write) {
    const std::vector<PARAM_PAIR> settings = {
        {kGopLength, KeyFrameDistanceValue(read.GetRangeInc(kGopLength))},
        {kMulticast, "0"},
        {kEnabled, "1"},
    };
    if (!read.AddChangedValues(write, settings)) return false;
    write.AddAction(kCommit, kCommitOperation, "");
    return true;
}

bool ReadRtspPort(const CBaslerRequest& read, uint16_t& port) {
    const std::string value = read.GetValue(kRtspPort);
    if (value.empty()) return false;
    // Digits only and within 16 bits; anything else leaves the client's
    // default port.
    port = ParseUnsignedStrict16(value);
    return true;
}

}  // namespace zentavo
