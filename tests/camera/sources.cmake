set(PORTABLE_SOURCES
    BaslerRequestTest.cpp
)
set(WIN32_SOURCES
)
