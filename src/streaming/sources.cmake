set(PORTABLE_SOURCES
    RTPPacket.cpp
    SDPResponseParser.cpp
    RTSPResponseParser.cpp
    RTSPStreamParser.cpp
    RTCPStatistics.cpp
    RTCPPackets.cpp
    InterleavedRTCPReporter.cpp
    RTPReorderBuffer.cpp
)
set(WIN32_SOURCES
    UDPClient.cpp
    RTPReceiver.cpp
    RTCPHandler.cpp
)
list(APPEND PORTABLE_SOURCES
    RTSPReplyReader.cpp
    RTSPAuthentication.cpp
    RTSPRequestBuilder.cpp
    RTSPReplyFacts.cpp
)
list(APPEND WIN32_SOURCES
    BaseRTSPClient.cpp
)
