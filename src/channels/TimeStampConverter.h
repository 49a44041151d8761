// The capture clock: turns the 90 kHz RTP timestamps of one stream into
// capture times (file-time units, 100 ns). It starts at the current time,
// advances at the nominal rate while it calibrates and at the measured rate
// (wall time per timestamp tick over the last frames) afterwards, never
// lags behind the clock, and pulls back gently when it has run ahead.
// Whatever the sender's timestamps do (a frame stamped hours away, a step
// back where a file loops, a rate that is not the one they claim), the
// capture times only ever move forward and stay within kMaxLead of the
// clock; a timestamp step of a second or more is a new start and stays out
// of the measured rate.
// The caller supplies the current time, so the rules are pure arithmetic.
#pragma once

#include <cstdint>

#include "channels/StatisticsHelper.h"

namespace zentavo {

class CTimeStampConverter {
public:
    static constexpr uint32_t kStatisticsWindow = 1000;
    // Frames advanced at the nominal rate before the measured rate is used.
    static constexpr uint32_t kCalibrationFrames = 100;
    // One tick of a 90 kHz clock in 100 ns units (rounded down).
    static constexpr uint64_t kNominalTick = 111;
    // A nominal step this long (one second) is a jump, not a frame.
    static constexpr uint64_t kJumpLimit = 10000000;
    // A repeated or older timestamp still moves on by this much (1 ms).
    static constexpr uint64_t kForcedStep = 10000;
    // Being further ahead than this (250 ms) is remembered as lead.
    static constexpr uint64_t kLeadLimit = 2500000;
    // A capture time is never further ahead of the clock than this (500 ms).
    static constexpr uint64_t kMaxLead = 5000000;

    CTimeStampConverter();
    virtual ~CTimeStampConverter();

    // One frame's timestamp, seen at now (file time, 0 when unknown).
    void Update(uint32_t timestamp, uint64_t now);
    // The capture time of the last update; 0 before the first.
    uint64_t CaptureTime() const { return m_captureTime; }
    uint64_t Lead() const { return m_lead; }

private:
    void Restart(uint32_t timestamp, uint64_t now);

    uint64_t m_captureTime = 0;
    uint32_t m_lastTimestamp = 0;
    uint64_t m_lead = 0;
    uint64_t m_lastWallTime = 0;
    TStatisticsHelper<uint32_t> m_tickStatistics;
    TStatisticsHelper<uint32_t> m_wallStatistics;
};

}  // namespace zentavo
