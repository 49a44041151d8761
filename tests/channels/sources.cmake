set(PORTABLE_SOURCES
    TimeStampConverterTest.cpp
    StreamingSetupTest.cpp
    TransportChoiceTest.cpp
)
set(WIN32_SOURCES
    BaseCameraChannelTest.cpp
)
