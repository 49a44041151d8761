set(PORTABLE_SOURCES
    RTPPacketTest.cpp
    SDPResponseParserTest.cpp
    RTSPResponseParserTest.cpp
    RTSPStreamParserTest.cpp
)
set(WIN32_SOURCES
)
list(APPEND PORTABLE_SOURCES
    RTSPReplyReaderTest.cpp
    RTSPAuthenticationTest.cpp
)
list(APPEND WIN32_SOURCES
    BaseRTSPClientTest.cpp
)
