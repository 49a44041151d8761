// H.264 video of this camera family over RTSP/RTP.
#pragma once

#include "channels/CommonChannelRTSP.h"
#include "parsers/H264RTPMediaParser.h"

namespace zentavo {

class CH264ChannelRTSP : public CCommonChannelRTSP {
public:
    CH264ChannelRTSP(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback);
    ~CH264ChannelRTSP() override;

    std::string GetEncoderType() override { return "H_264"; }
    std::string GetStreamPath() override { return "/h264?stream=0&mode=live"; }
    void HandlePacket(const CRTPPacket& packet) override;
    bool OnDescribe(const SESSION_DESCRIPTION& description) override;

    const CH264RTPMediaParser& Parser() const { return m_parser; }

private:
    CH264RTPMediaParser m_parser;
};

}  // namespace zentavo
