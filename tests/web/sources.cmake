set(PORTABLE_SOURCES
)
set(WIN32_SOURCES
    HttpSenderTest.cpp
    HUtilsTest.cpp
)
