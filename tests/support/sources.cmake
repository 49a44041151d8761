set(PORTABLE_SOURCES
    FakeDriver.cpp
    TestFrameFactory.cpp
)
set(WIN32_SOURCES
    CamSim.cpp
)
