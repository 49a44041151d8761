set(PORTABLE_SOURCES
    ResultDef.cpp
)
set(WIN32_SOURCES
    DataWaiter.cpp
    HttpSender.cpp
    HUtils.cpp
)
