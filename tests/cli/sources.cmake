# The halvencap program's portable pieces and their tests.
set(PORTABLE_SOURCES
    OptionsTest.cpp
    RecorderTest.cpp
    HostObjectsTest.cpp
    StatusLineTest.cpp
    ../../tools/halvencap/ChannelCallback.cpp
    ../../tools/halvencap/Console.cpp
    ../../tools/halvencap/DebugSink.cpp
    ../../tools/halvencap/HostConfig.cpp
    ../../tools/halvencap/HostFrame.cpp
    ../../tools/halvencap/IoCallback.cpp
    ../../tools/halvencap/Options.cpp
    ../../tools/halvencap/Recorder.cpp
    ../../tools/halvencap/StatusLine.cpp
)
set(WIN32_SOURCES
)
