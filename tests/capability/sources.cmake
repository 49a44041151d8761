set(PORTABLE_SOURCES
    FrameRulesTest.cpp
)
set(WIN32_SOURCES
    BaseCameraPropertiesTest.cpp
    CapabilityQueryTest.cpp
    CapabilityLifecycleTest.cpp
)
