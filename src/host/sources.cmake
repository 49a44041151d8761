set(PORTABLE_SOURCES
    DebugInfo.cpp
)
set(WIN32_SOURCES
)
