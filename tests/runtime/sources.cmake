set(PORTABLE_SOURCES
    TextUtilsTest.cpp
)
set(WIN32_SOURCES
)
