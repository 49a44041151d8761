// MPEG-4 video of this camera family over RTSP/RTP.
#pragma once

#include "channels/CodecChannelRTSP.h"
#include "parsers/Mpeg4RTPMediaParser.h"

namespace zentavo {

class CMPEG4ChannelRTSP : public TCodecChannelRTSP<CMpeg4RTPMediaParser> {
public:
    using TCodecChannelRTSP::TCodecChannelRTSP;
    ~CMPEG4ChannelRTSP() override { Stop(); }  // before the encoder and path go

    std::string GetEncoderType() override { return "MPEG4"; }
    std::string GetStreamPath() override { return "/mpeg4?stream=0&mode=live"; }
};

}  // namespace zentavo
