set(PORTABLE_SOURCES
    RTPPacketTest.cpp
    SDPResponseParserTest.cpp
    RTSPResponseParserTest.cpp
    RTSPStreamParserTest.cpp
    RTSPReplyFactsTest.cpp
    RTCPStatisticsTest.cpp
    RTCPPacketsTest.cpp
    InterleavedRTCPReporterTest.cpp
    BoundedQueueTest.cpp
    RTPReorderBufferTest.cpp
)
set(WIN32_SOURCES
    LoopbackPeer.cpp
    UDPClientTest.cpp
    RTPReceiverTest.cpp
    RTCPHandlerTest.cpp
)
list(APPEND PORTABLE_SOURCES
    RTSPReplyReaderTest.cpp
    RTSPAuthenticationTest.cpp
)
list(APPEND WIN32_SOURCES
    BaseRTSPClientTest.cpp
)
