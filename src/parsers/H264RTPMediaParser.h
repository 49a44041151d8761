// Rebuilds H.264 access units (Annex B, three-byte start codes) from RTP
// packets carrying single NAL units, STAP-A aggregates and FU-A fragments
// (RFC 6184), puts the stream's parameter sets in front of IDR pictures and
// delivers each access unit once it is known to be complete: after its
// marker packet, or, for senders that never set the marker, when the first
// packet of the next access unit (a new timestamp) arrives.
//
// Senders get the payload wrong in several ways that a decoder would
// survive if the bytes reached it as proper NAL units: Annex B start codes
// inside a NAL unit or FU-A payload (parameter sets and slice packed as
// one), FU headers with both start and end bits or a reserved bit set,
// continuation fragments that name another type. Those are mended here.
// What cannot be mended (a lost fragment or packet) costs the access unit
// and everything up to the next key frame, so no picture the host gets
// refers to data it never got.
#pragma once

#include "parsers/RTPMediaParser.h"

namespace zentavo {

class CH264RTPMediaParser : public CRTPMediaParser {
public:
    explicit CH264RTPMediaParser(IDriver* driver);

    void ProcessPacket(const CRTPPacket& packet) override;
    void Reset() override;
    void SetParameterSets(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                          const std::vector<uint8_t>& config) override;

    bool AwaitingSps() const { return m_awaitingSps; }
    const std::vector<uint8_t>& Sps() const { return m_sps; }
    const std::vector<uint8_t>& Pps() const { return m_pps; }

private:
    bool HandlePayload(const uint8_t* payload, size_t length);
    bool HandleStapA(const uint8_t* payload, size_t length);
    bool HandleFuA(const uint8_t* payload, size_t length);
    // A NAL unit as the sender gave it: split at any start codes inside.
    void HandleNalUnits(const uint8_t* data, size_t length);
    void HandleNal(const uint8_t* nal, size_t length);
    void AppendNal(const uint8_t* nal, size_t length);
    // The fragmented NAL unit in progress is whole.
    void EndFragment();
    // The access unit in progress is whole (or known not to be).
    void FinishAccessUnit();
    void ProcessFrame(uint32_t timestamp);
    void ClearAccessUnit();

    // Nothing is delivered until an access unit yields a picture size.
    bool m_awaitingSps = true;

    // The access unit in progress.
    bool m_unitOpen = false;
    uint32_t m_unitTimestamp = 0;
    bool m_unitHasSlice = false;
    bool m_unitHasIdr = false;
    // Part of it is missing; it is dropped when it ends.
    bool m_unitBroken = false;

    // A fragmented NAL unit being collected in the frame buffer from this
    // offset (its start code included).
    bool m_inFragment = false;
    size_t m_fragmentStart = 0;
};

}  // namespace zentavo
