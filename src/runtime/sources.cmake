set(PORTABLE_SOURCES
    TextUtils.cpp
    Base64.cpp
    Md5.cpp
)
set(WIN32_SOURCES
    ResolveHost.cpp
)
