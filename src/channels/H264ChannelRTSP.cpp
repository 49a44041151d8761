#include "channels/H264ChannelRTSP.h"

namespace zentavo {

CH264ChannelRTSP::CH264ChannelRTSP(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback)
    : CCommonChannelRTSP(channelIndex, driver, callback), m_parser(driver) {
    m_parser.SetClient(this);
}

CH264ChannelRTSP::~CH264ChannelRTSP() {
    // The capture thread and the stream's threads run this object's hooks.
    Stop();
    m_client.Stop();
    StopPortPair();
}

void CH264ChannelRTSP::HandlePacket(const CRTPPacket& packet) { m_parser.ProcessPacket(packet); }

bool CH264ChannelRTSP::OnDescribe(const SESSION_DESCRIPTION& description) {
    m_parser.SetParameterSets(description.parameterSet1, description.parameterSet2, description.configuration);
    return true;
}

}  // namespace zentavo
