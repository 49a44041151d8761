set(PORTABLE_SOURCES
    RTPPacket.cpp
    SDPResponseParser.cpp
    RTSPResponseParser.cpp
    RTSPStreamParser.cpp
)
set(WIN32_SOURCES
)
