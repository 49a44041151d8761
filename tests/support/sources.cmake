set(PORTABLE_SOURCES
    FakeDriver.cpp
    TestHost.cpp
    TestFrameFactory.cpp
)
set(WIN32_SOURCES
    CamSim.cpp
    DriverLibrary.cpp
    ScriptedHttpServer.cpp
    CapabilityHost.cpp
)
list(APPEND WIN32_SOURCES
    RtspServer.cpp
    FaultProxy.cpp
    Artifacts.cpp
    ProcessResources.cpp
)
