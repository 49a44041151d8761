set(PORTABLE_SOURCES
    JpegMediaParserTest.cpp
    H264RTPMediaParserTest.cpp
    Mpeg4RTPMediaParserTest.cpp
    RealStreamTest.cpp
)
set(WIN32_SOURCES
)
