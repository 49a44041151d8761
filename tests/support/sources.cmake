set(PORTABLE_SOURCES
    FakeDriver.cpp
)
set(WIN32_SOURCES
)
