set(PORTABLE_SOURCES
    PictureSize.cpp
    FrameDelivery.cpp
    HttpMediaParser.cpp
    JpegMediaParser.cpp
)
set(WIN32_SOURCES
)
