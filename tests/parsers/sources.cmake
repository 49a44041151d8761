set(PORTABLE_SOURCES
    JpegMediaParserTest.cpp
    H264RTPMediaParserTest.cpp
)
set(WIN32_SOURCES
)
