#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../tools/halvencap/Options.h"

using namespace zentavo::cli;

namespace {

ParseOutcome Parse(std::vector<std::string> args) { return ParseCommandLine(args); }

}  // namespace

TEST(CliOptions, RecordWithEveryOption) {
    const ParseOutcome r = Parse({"record", "--address", "cam.local", "--port=8080", "--user", "admin", "--password",
                                  "p@ss word", "--format", "h264", "--size", "1280x720", "--interval", "40",
                                  "--quality", "90", "--seconds", "12", "--out", "rec dir", "--log-level", "error",
                                  "--dll", "C:\\x\\Halvencap.dll", "--quiet"});
    ASSERT_TRUE(r.ok) << r.error;
    const Options& o = r.options;
    EXPECT_EQ(o.command, Command::Record);
    EXPECT_EQ(o.address, "cam.local");
    EXPECT_EQ(o.port, 8080);
    EXPECT_EQ(o.user, "admin");
    EXPECT_EQ(o.password, "p@ss word");
    EXPECT_EQ(o.format, VideoFormat::H264);
    EXPECT_EQ(static_cast<int>(o.format), 3);
    EXPECT_EQ(o.width, 1280);
    EXPECT_EQ(o.height, 720);
    EXPECT_EQ(o.intervalMs, 40);
    EXPECT_EQ(o.quality, 90);
    EXPECT_EQ(o.seconds, 12u);
    EXPECT_EQ(o.outDir, "rec dir");
    EXPECT_EQ(o.logThreshold, LOG_SHOW_ERROR);
    EXPECT_EQ(o.dllPath, "C:\\x\\Halvencap.dll");
    EXPECT_TRUE(o.quiet);
}

TEST(CliOptions, RecordDefaults) {
    const ParseOutcome r = Parse({"record", "--address", "10.0.0.5", "--out", "d"});
    ASSERT_TRUE(r.ok) << r.error;
    const Options& o = r.options;
    EXPECT_EQ(o.port, 80);
    EXPECT_EQ(o.format, VideoFormat::Mjpeg);
    EXPECT_EQ(static_cast<int>(o.format), 1);
    EXPECT_EQ(o.width, 640);
    EXPECT_EQ(o.height, 480);
    EXPECT_EQ(o.intervalMs, 100);
    EXPECT_EQ(o.quality, 75);
    EXPECT_EQ(o.seconds, 0u);
    EXPECT_EQ(o.logThreshold, LOG_SHOW_INFO);
    EXPECT_TRUE(o.user.empty());
    EXPECT_TRUE(o.dllPath.empty());
    EXPECT_FALSE(o.quiet);
    EXPECT_EQ(o.ioLines.inputs, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(o.ioLines.outputs, (std::vector<uint32_t>{2, 3}));
}

TEST(CliOptions, FormatsMapToDriverValues) {
    const struct { const char* name; int value; } cases[] = {{"mjpeg", 1}, {"mpeg4", 2}, {"h264", 3}};
    for (const auto& c : cases) {
        const ParseOutcome r = Parse({"record", "--address", "a", "--out", "d", "--format", c.name});
        ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
        EXPECT_EQ(static_cast<int>(r.options.format), c.value) << c.name;
        EXPECT_STREQ(FormatName(r.options.format), c.name);
    }
}

TEST(CliOptions, IoSwitchesAndWatch) {
    const ParseOutcome r = Parse({"io", "--address", "a", "--set", "0=on", "--set=1=off", "--set", "0=0",
                                  "--watch", "5", "--io-lines", "input=4;output=1,2"});
    ASSERT_TRUE(r.ok) << r.error;
    const Options& o = r.options;
    EXPECT_EQ(o.command, Command::Io);
    ASSERT_EQ(o.switches.size(), 3u);
    EXPECT_EQ(o.switches[0].index, 0u);
    EXPECT_TRUE(o.switches[0].on);
    EXPECT_EQ(o.switches[1].index, 1u);
    EXPECT_FALSE(o.switches[1].on);
    EXPECT_FALSE(o.switches[2].on);
    EXPECT_EQ(o.watchSeconds, 5u);
    EXPECT_EQ(o.ioLines.inputs, (std::vector<uint32_t>{4}));
    EXPECT_EQ(o.ioLines.outputs, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(o.ioLinesText, "input=4;output=1,2");
}

TEST(CliOptions, HelpInAnyPosition) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"help"}, {"--help"}, {"-h"}, {"record", "--help"}, {"io", "--address", "a", "-h"},
             {"probe", "--port", "1", "--help", "--bogus"}}) {
        const ParseOutcome r = Parse(args);
        EXPECT_TRUE(r.ok) << args[0];
        EXPECT_EQ(r.options.command, Command::Help) << args[0];
    }
}

TEST(CliOptions, VersionNeedsNoDeviceAndTakesOnlyTheLibrary) {
    ParseOutcome r = Parse({"--version"});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.options.command, Command::Version);
    r = Parse({"--version", "--dll", "x/Halvencap.dll"});
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.dllPath, "x/Halvencap.dll");
    r = Parse({"--version", "--address", "a"});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("--address is not an option of --version"), std::string::npos) << r.error;
}

// Every refusal is one line naming what is wrong; nothing throws.
TEST(CliOptions, BadArgumentsAreRefusedWithOneLine) {
    const struct {
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        {{}, "no command"},
        {{"film"}, "unknown command 'film'"},
        {{"--address", "a", "record"}, "command must come first"},
        {{"record", "--out", "d"}, "record needs --address"},
        {{"record", "--address", "a"}, "record needs --out"},
        {{"io"}, "io needs --address"},
        {{"check"}, "check needs --address"},
        {{"check", "--address", "a", "--format", "h264"}, "--format is not an option of check"},
        {{"check", "--address", "a", "--set", "0=on"}, "--set is not an option of check"},
        {{"check", "--address", "a", "--seconds", "0"}, "--seconds must be"},
        {{"record", "--address"}, "--address needs a value"},
        {{"record", "--address", ""}, "--address must be"},
        {{"record", "--address", "a b", "--out", "d"}, "--address must be"},
        {{"record", "--address", "http://cam", "--out", "d"}, "without scheme or path"},
        {{"record", "--address", "user@cam", "--out", "d"}, "--address must be"},
        {{"record", "--address", "a", "--out", "d", "--port", "0"}, "--port must be a whole number from 1 to 65535"},
        {{"record", "--address", "a", "--out", "d", "--port", "65536"}, "--port"},
        {{"record", "--address", "a", "--out", "d", "--port", "-1"}, "--port"},
        {{"record", "--address", "a", "--out", "d", "--port", "+80"}, "--port"},
        {{"record", "--address", "a", "--out", "d", "--port", "8O"}, "--port"},
        {{"record", "--address", "a", "--out", "d", "--port", "99999999999999999999"}, "--port"},
        {{"record", "--address", "a", "--out", "d", "--format", "MJPEG"}, "--format must be"},
        {{"record", "--address", "a", "--out", "d", "--size", "640"}, "--size must be"},
        {{"record", "--address", "a", "--out", "d", "--size", "640x"}, "--size must be"},
        {{"record", "--address", "a", "--out", "d", "--size", "0x480"}, "--size must be"},
        {{"record", "--address", "a", "--out", "d", "--size", "640x70000"}, "--size must be"},
        {{"record", "--address", "a", "--out", "d", "--interval", "0"}, "--interval"},
        {{"record", "--address", "a", "--out", "d", "--interval", "65536"}, "--interval"},
        {{"record", "--address", "a", "--out", "d", "--quality", "0"}, "--quality must be a whole number from 1 to 100"},
        {{"record", "--address", "a", "--out", "d", "--quality", "101"}, "--quality"},
        {{"record", "--address", "a", "--out", "d", "--seconds", "0"}, "--seconds"},
        {{"record", "--address", "a", "--out", "d", "--seconds", "1.5"}, "--seconds"},
        {{"record", "--address", "a", "--out", "d", "--log-level", "loud"}, "--log-level must be"},
        {{"record", "--address", "a", "--out", "d", "--set", "0=on"}, "--set is not an option of record"},
        {{"io", "--address", "a", "--out", "d"}, "--out is not an option of io"},
        {{"probe", "--address", "a", "--watch", "3"}, "--watch is not an option of probe"},
        {{"record", "--address", "a", "--out", "d", "--fps", "3"}, "unknown option --fps"},
        {{"record", "--address", "a", "--out", "d", "extra"}, "unexpected argument 'extra'"},
        {{"record", "--address", "a", "--out", "d", "--"}, "unexpected argument '--'"},
        {{"record", "--address", "a", "--address", "b", "--out", "d"}, "--address given twice"},
        {{"record", "--address", "a", "--out", "d", "--quiet=yes"}, "--quiet takes no value"},
        {{"record", "--address", "a", "--out", "d", "--password", "x"}, "--password needs --user"},
        {{"io", "--address", "a", "--set", "0"}, "--set must be"},
        {{"io", "--address", "a", "--set", "0=maybe"}, "--set must be"},
        {{"io", "--address", "a", "--set", "x=on"}, "--set must be"},
        {{"io", "--address", "a", "--set", "2=on"}, "--set 2: there are only 2 outputs"},
        {{"io", "--address", "a", "--io-lines", "output=", "--set", "0=on"}, "there are only 0 outputs"},
        {{"io", "--address", "a", "--watch", "-2"}, "--watch"},
        {{"io", "--address", "a", "--io-lines", "inputs=1"}, "--io-lines: unknown key 'inputs'"},
        {{"io", "--address", "a", "--io-lines", "input=1,1"}, "--io-lines: line 1 is listed twice"},
        {{"io", "--address", "a", "--io-lines", "input=1;output=1"}, "line 1 is listed twice"},
        {{"io", "--address", "a", "--io-lines", "input=32"}, "must be a number from 0 to 31"},
        {{"io", "--address", "a", "--io-lines", "input=0,,1"}, "line '' must be"},
        {{"io", "--address", "a", "--io-lines", "input=0;input=1"}, "input given twice"},
        {{"io", "--address", "a", "--io-lines", "garbage"}, "expected input=LINES"},
    };
    for (const auto& c : cases) {
        const ParseOutcome r = Parse(c.args);
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        EXPECT_FALSE(r.ok) << joined;
        EXPECT_NE(r.error.find(c.expected), std::string::npos) << joined << "-> " << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << joined;
    }
}

TEST(CliOptions, IoLinesNotation) {
    const struct {
        const char* text;
        std::vector<uint32_t> inputs;
        std::vector<uint32_t> outputs;
    } cases[] = {
        {"", {}, {}},
        {"input=0,1;output=2,3", {0, 1}, {2, 3}},
        {"output=3;input=31", {31}, {3}},
        {"input=", {}, {}},
        {"input=5", {5}, {}},
        {"output=0", {}, {0}},
    };
    for (const auto& c : cases) {
        IoLines lines;
        std::string error;
        ASSERT_TRUE(ParseIoLines(c.text, lines, error)) << c.text << ": " << error;
        EXPECT_EQ(lines.inputs, c.inputs) << c.text;
        EXPECT_EQ(lines.outputs, c.outputs) << c.text;
    }
}

TEST(CliOptions, LogThresholds) {
    // Driver levels: 1 error, 2 warning, 100 notice, 3 information, anything else only with "all".
    const struct { int threshold; bool e, w, n, i, other; } cases[] = {
        {LOG_SHOW_NONE, false, false, false, false, false},
        {LOG_SHOW_ERROR, true, false, false, false, false},
        {LOG_SHOW_WARNING, true, true, false, false, false},
        {LOG_SHOW_NOTICE, true, true, true, false, false},
        {LOG_SHOW_INFO, true, true, true, true, false},
        {LOG_SHOW_ALL, true, true, true, true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShowLogLine(c.threshold, 1), c.e) << c.threshold;
        EXPECT_EQ(ShowLogLine(c.threshold, 2), c.w) << c.threshold;
        EXPECT_EQ(ShowLogLine(c.threshold, 100), c.n) << c.threshold;
        EXPECT_EQ(ShowLogLine(c.threshold, 3), c.i) << c.threshold;
        EXPECT_EQ(ShowLogLine(c.threshold, 4), c.other) << c.threshold;
    }
    EXPECT_EQ(LogLevelName(1), "error");
    EXPECT_EQ(LogLevelName(100), "notice");
    EXPECT_EQ(LogLevelName(7), "level 7");
}

TEST(CliOptions, CheckDefaultsAndOptions) {
    ParseOutcome r = Parse({"check", "--address", "cam"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.command, Command::Check);
    EXPECT_EQ(r.options.seconds, CHECK_DEFAULT_SECONDS);
    EXPECT_TRUE(r.options.outDir.empty());
    EXPECT_EQ(r.options.ioLines.outputs, (std::vector<uint32_t>{2, 3}));

    r = Parse({"check", "--address", "cam", "--seconds", "3", "--out", "rep", "--io-lines", "input=1;output=", "--size",
               "320x240"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.seconds, 3u);
    EXPECT_EQ(r.options.outDir, "rep");
    EXPECT_EQ(r.options.ioLines.inputs, (std::vector<uint32_t>{1}));
    EXPECT_TRUE(r.options.ioLines.outputs.empty());
    EXPECT_EQ(r.options.width, 320);
}

TEST(CliOptions, UsageNamesEveryCommandAndExitCode) {
    const std::string usage = UsageText();
    for (const char* word : {"record", "io", "probe", "check", "--io-lines", "--log-level", "--dll", "0 ok", "2 bad arguments",
                             "3 device unreachable or refused", "4 no video"})
        EXPECT_NE(usage.find(word), std::string::npos) << word;
}
