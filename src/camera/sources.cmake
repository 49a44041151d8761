set(PORTABLE_SOURCES
    BaslerRequest.cpp
)
set(WIN32_SOURCES
    ParamExchange.cpp
    BaslerIO.cpp
)
