set(PORTABLE_SOURCES
    JpegMediaParserTest.cpp
    H264RTPMediaParserTest.cpp
    Mpeg4RTPMediaParserTest.cpp
)
set(WIN32_SOURCES
)
