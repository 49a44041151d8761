set(PORTABLE_SOURCES
    RTPPacket.cpp
    SDPResponseParser.cpp
    RTSPResponseParser.cpp
    RTSPStreamParser.cpp
)
set(WIN32_SOURCES
)
list(APPEND PORTABLE_SOURCES
    RTSPReplyReader.cpp
    RTSPAuthentication.cpp
    RTSPRequestBuilder.cpp
)
list(APPEND WIN32_SOURCES
    BaseRTSPClient.cpp
)
