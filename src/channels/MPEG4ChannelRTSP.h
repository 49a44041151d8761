// MPEG-4 video of this camera family over RTSP/RTP.
#pragma once

#include "channels/CommonChannelRTSP.h"
#include "parsers/Mpeg4RTPMediaParser.h"

namespace zentavo {

class CMPEG4ChannelRTSP : public CCommonChannelRTSP {
public:
    CMPEG4ChannelRTSP(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback);
    ~CMPEG4ChannelRTSP() override;

    std::string GetEncoderType() override { return "MPEG4"; }
    std::string GetStreamPath() override { return "/mpeg4?stream=0&mode=live"; }
    void HandlePacket(const CRTPPacket& packet) override;
    bool OnDescribe(const SESSION_DESCRIPTION& description) override;

    const CMpeg4RTPMediaParser& Parser() const { return m_parser; }

private:
    CMpeg4RTPMediaParser m_parser;
};

}  // namespace zentavo
