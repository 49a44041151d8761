set(PORTABLE_SOURCES
)
set(WIN32_SOURCES
    StreamConfigTest.cpp
    MjpegChannelTest.cpp
)
