#include "channels/TimeStampConverter.h"

#include <algorithm>

namespace zentavo {

namespace {

const uint64_t kPullBackMinimum = 10000;  // 1 ms
const uint64_t kPullBackFrom = 40000;     // steps longer than 4 ms give back lead
const uint64_t kLeadWorthPulling = 10000;

}  // namespace

CTimeStampConverter::CTimeStampConverter()
    : m_tickStatistics(kStatisticsWindow), m_wallStatistics(kStatisticsWindow) {}

CTimeStampConverter::~CTimeStampConverter() = default;

void CTimeStampConverter::Restart(uint32_t timestamp, uint64_t now) {
    m_captureTime = now;
    m_lead = 0;
    m_lastWallTime = now;
    m_lastTimestamp = timestamp;
}

void CTimeStampConverter::Update(uint32_t timestamp, uint64_t now) {
    const uint64_t previous = m_captureTime;
    if (now == 0 || previous == 0) {
        Restart(timestamp, now);
        return;
    }
    bool remeasureLead = false;
    bool restart = false;
    if (timestamp > m_lastTimestamp) {
        const uint32_t ticks = timestamp - m_lastTimestamp;
        // In 64 bits: a jump of more than 2^32 / 111 ticks must not wrap
        // into what looks like a short frame step.
        const uint64_t nominal = uint64_t(ticks) * kNominalTick;
        const uint64_t wall = now >= m_lastWallTime ? now - m_lastWallTime : 0;
        if (nominal >= kJumpLimit || wall >= nominal + kJumpLimit) {
            // A jump or a stall, not a frame: kept out of the measured rate,
            // which one frame stamped hours away or seconds of silence would
            // otherwise spoil for the whole window.
            restart = true;
        } else {
            m_tickStatistics.Add(ticks);
            m_wallStatistics.Add(static_cast<uint32_t>(wall));
            if (m_tickStatistics.Count() <= kCalibrationFrames) {
                m_captureTime += nominal;
                remeasureLead = m_tickStatistics.Count() == kCalibrationFrames;
            } else {
                uint64_t step =
                    static_cast<uint64_t>(m_wallStatistics.Mean() * double(ticks) / m_tickStatistics.Mean() + 0.5);
                if (m_lead > kLeadWorthPulling && step > kPullBackFrom) {
                    const uint64_t tenth = step / 10;
                    const uint64_t correction = tenth < kPullBackMinimum ? kPullBackMinimum : std::min(m_lead, tenth);
                    m_lead -= correction;
                    step -= correction;
                }
                m_captureTime += step;
            }
        }
    } else {
        // Repeated, older or wrapped timestamp: the frame still gets a time
        // of its own.
        m_captureTime = std::max(m_captureTime + kForcedStep, now);
        remeasureLead = true;
    }
    if (!restart && m_captureTime > now) {
        if (remeasureLead || m_captureTime - now > kLeadLimit) m_lead = m_captureTime - now;
        m_lastWallTime = now;
        m_lastTimestamp = timestamp;
    } else {
        Restart(timestamp, now);
    }
    // The host orders frames by these times: never backwards, even when a
    // restart at the clock falls behind a time already given out; and never
    // far ahead of the moment the frame arrived.
    bool clamped = false;
    if (m_captureTime <= previous) {
        m_captureTime = previous + 1;
        clamped = true;
    }
    if (m_captureTime > now + kMaxLead) {
        m_captureTime = std::max(now + kMaxLead, previous + 1);
        clamped = true;
    }
    if (clamped) m_lead = m_captureTime > now ? m_captureTime - now : 0;
}

}  // namespace zentavo
