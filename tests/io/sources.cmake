set(PORTABLE_SOURCES
)
set(WIN32_SOURCES
    IOBaseTest.cpp
    IOLineListsTest.cpp
    BaslerIOTest.cpp
)
