set(PORTABLE_SOURCES
    RTPPacketTest.cpp
)
set(WIN32_SOURCES
)
