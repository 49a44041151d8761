// H.264 video of this camera family over RTSP/RTP.
#pragma once

#include "channels/CodecChannelRTSP.h"
#include "parsers/H264RTPMediaParser.h"

namespace zentavo {

class CH264ChannelRTSP : public TCodecChannelRTSP<CH264RTPMediaParser> {
public:
    using TCodecChannelRTSP::TCodecChannelRTSP;
    ~CH264ChannelRTSP() override { Stop(); }  // before the encoder and path go

    std::string GetEncoderType() override { return "H_264"; }
    std::string GetStreamPath() override { return "/h264?stream=0&mode=live"; }
};

}  // namespace zentavo
