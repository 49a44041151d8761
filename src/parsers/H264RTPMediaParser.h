// Rebuilds H.264 access units (Annex B, three-byte start codes) from RTP
// packets carrying single NAL units, STAP-A aggregates and FU-A fragments
// (RFC 6184), puts the stream's parameter sets in front of IDR pictures and
// delivers each access unit when its marker packet has been handled.
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
    bool StartingUp() const { return m_startUp; }
    const std::vector<uint8_t>& Sps() const { return m_sps; }
    const std::vector<uint8_t>& Pps() const { return m_pps; }

private:
    bool HandlePayload(const uint8_t* payload, size_t length);
    bool HandleSingle(const uint8_t* payload, size_t length);
    bool HandleStapA(const uint8_t* payload, size_t length);
    bool HandleFuA(const uint8_t* payload, size_t length);
    void AppendNal(const uint8_t* nal, size_t length);
    void InsertParameterSets();
    void ProcessFrame(uint32_t timestamp);

    // Nothing is delivered until an access unit yields a picture size.
    bool m_awaitingSps = true;
    // Until the first marker packet (or an in-band parameter set) a
    // fragmented IDR gets no parameter sets put in front.
    bool m_startUp = true;
};

}  // namespace zentavo
