set(PORTABLE_SOURCES
    TimeStampConverterTest.cpp
    StreamingSetupTest.cpp
)
set(WIN32_SOURCES
    BaseCameraChannelTest.cpp
)
