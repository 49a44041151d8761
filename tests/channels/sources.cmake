set(PORTABLE_SOURCES
)
set(WIN32_SOURCES
    BaseCameraChannelTest.cpp
)
