set(PORTABLE_SOURCES
    RTPPacketTest.cpp
    SDPResponseParserTest.cpp
    RTSPResponseParserTest.cpp
    RTSPStreamParserTest.cpp
)
set(WIN32_SOURCES
)
