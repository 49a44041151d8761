set(PORTABLE_SOURCES
    BaslerRequestTest.cpp
    StreamChoicesTest.cpp
    CapabilityAnswersTest.cpp
)
set(WIN32_SOURCES
    ParamExchangeOverHttpTest.cpp
)
