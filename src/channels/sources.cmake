set(PORTABLE_SOURCES
)
set(WIN32_SOURCES
    ChannelFactory.cpp
    BaseCameraChannel.cpp
    MJPEGChannelHTTP.cpp
)
