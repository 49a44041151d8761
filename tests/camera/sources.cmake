set(PORTABLE_SOURCES
    BaslerRequestTest.cpp
    StreamChoicesTest.cpp
)
set(WIN32_SOURCES
    ParamExchangeOverHttpTest.cpp
)
