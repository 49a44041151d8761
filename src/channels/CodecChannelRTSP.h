// What the codec channels share: the depacketizer that gets the packets and
// the session description's decoder set-up. They differ only in encoder,
// stream path and depacketizer type.
#pragma once

#include "channels/CommonChannelRTSP.h"
#include "streaming/RTPReorderBuffer.h"
#include "streaming/SDPResponseParser.h"

namespace zentavo {

template <class Parser>
class TCodecChannelRTSP : public CCommonChannelRTSP {
public:
    TCodecChannelRTSP(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback)
        : CCommonChannelRTSP(channelIndex, driver, callback), m_parser(driver) {
        m_parser.SetClient(this);
    }

    ~TCodecChannelRTSP() override {
        // The capture thread and the stream's threads run this object's hooks.
        Stop();
        m_client.Stop();
        StopPortPair();
    }

    // Packets reach the depacketizer in sequence order where a swap can be
    // mended; runs on the one thread that delivers packets.
    void HandlePacket(const CRTPPacket& packet) override {
        m_reorder.Push(packet, [this](const CRTPPacket& p) { m_parser.ProcessPacket(p); });
    }

    // Each session's packets start a sequence of their own; the previous
    // session's threads have stopped by now.
    bool StartTransport() override {
        m_reorder.Clear();
        return CCommonChannelRTSP::StartTransport();
    }

    bool OnDescribe(const SESSION_DESCRIPTION& description) override {
        m_reorder.SetPayloadTypes(description.Media(SDP_MEDIA_VIDEO)->payloadTypes);
        m_parser.SetParameterSets(description.parameterSet1, description.parameterSet2, description.configuration);
        return true;
    }

    const Parser& GetParser() const { return m_parser; }

private:
    Parser m_parser;
    CRTPReorderBuffer m_reorder;
};

}  // namespace zentavo
