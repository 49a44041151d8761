set(PORTABLE_SOURCES
    ResultDef.cpp
)
set(WIN32_SOURCES
    HttpSender.cpp
    HUtils.cpp
)
