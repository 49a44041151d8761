set(PORTABLE_SOURCES
)
set(WIN32_SOURCES
    IODriverTest.cpp
    StreamConfigTest.cpp
    MjpegChannelTest.cpp
    StreamingStepTest.cpp
)
