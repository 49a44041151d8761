set(PORTABLE_SOURCES
    BaslerRequest.cpp
)
set(WIN32_SOURCES
)
