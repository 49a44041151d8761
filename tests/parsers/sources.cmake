set(PORTABLE_SOURCES
    JpegMediaParserTest.cpp
)
set(WIN32_SOURCES
)
