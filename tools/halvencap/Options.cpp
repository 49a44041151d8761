#include "Options.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace zentavo {
namespace cli {

namespace {

enum OptionId {
    OPT_ADDRESS, OPT_PORT, OPT_USER, OPT_PASSWORD, OPT_FORMAT, OPT_SIZE, OPT_INTERVAL,
    OPT_QUALITY, OPT_SECONDS, OPT_OUT, OPT_SET, OPT_WATCH, OPT_IO_LINES, OPT_LOG_LEVEL,
    OPT_DLL, OPT_QUIET, OPT_JSON, OPT_HELP,
};

enum CommandMask : unsigned { REC = 1, IO = 2, PROBE = 4, CHECK = 8, ALL = REC | IO | PROBE | CHECK, VER = 16 };

struct OptionSpec {
    const char* name;
    OptionId id;
    bool takesValue;
    bool repeatable;
    unsigned commands;
};

const OptionSpec OPTIONS[] = {
    {"address", OPT_ADDRESS, true, false, ALL},
    {"port", OPT_PORT, true, false, ALL},
    {"user", OPT_USER, true, false, ALL},
    {"password", OPT_PASSWORD, true, false, ALL},
    {"format", OPT_FORMAT, true, false, REC},
    {"size", OPT_SIZE, true, false, REC | CHECK},
    {"interval", OPT_INTERVAL, true, false, REC | CHECK},
    {"quality", OPT_QUALITY, true, false, REC | CHECK},
    {"seconds", OPT_SECONDS, true, false, REC | CHECK},
    {"out", OPT_OUT, true, false, REC | CHECK},
    {"set", OPT_SET, true, true, IO},
    {"watch", OPT_WATCH, true, false, IO},
    {"io-lines", OPT_IO_LINES, true, false, IO | CHECK},
    {"log-level", OPT_LOG_LEVEL, true, false, ALL},
    {"dll", OPT_DLL, true, false, ALL | VER},
    {"quiet", OPT_QUIET, false, false, ALL},
    {"json", OPT_JSON, false, false, PROBE},
    {"help", OPT_HELP, false, false, ALL | VER},
};

// Longest run a counter of seconds may have so that milliseconds fit 32 bits.
constexpr uint32_t MAX_SECONDS = 2000000;

const OptionSpec* FindOption(const std::string& name) {
    for (const OptionSpec& spec : OPTIONS)
        if (name == spec.name) return &spec;
    return nullptr;
}

const char* CommandName(Command c) {
    switch (c) {
        case Command::Record: return "record";
        case Command::Io: return "io";
        case Command::Probe: return "probe";
        case Command::Check: return "check";
        case Command::Version: return "--version";
        default: return "help";
    }
}

unsigned CommandBit(Command c) {
    switch (c) {
        case Command::Record: return REC;
        case Command::Io: return IO;
        case Command::Probe: return PROBE;
        case Command::Check: return CHECK;
        case Command::Version: return VER;
        default: return 0;
    }
}

// Decimal digits only (no sign, no blanks), value within [min, max].
bool ReadNumber(const std::string& text, uint32_t min, uint32_t max, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v < min || v > max) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

std::string Range(const char* option, uint32_t min, uint32_t max) {
    return std::string("--") + option + " must be a whole number from " + std::to_string(min) + " to " +
           std::to_string(max);
}

bool HasControlOrBlank(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; });
}

bool HasControl(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < ' ' || c == 0x7f; });
}

bool ReadLogThreshold(const std::string& text, int& threshold) {
    static const struct { const char* name; int value; } NAMES[] = {
        {"none", LOG_SHOW_NONE}, {"error", LOG_SHOW_ERROR}, {"warning", LOG_SHOW_WARNING},
        {"notice", LOG_SHOW_NOTICE}, {"info", LOG_SHOW_INFO}, {"all", LOG_SHOW_ALL},
    };
    for (const auto& n : NAMES) {
        if (text == n.name) {
            threshold = n.value;
            return true;
        }
    }
    return false;
}

bool ReadSize(const std::string& text, uint16_t& width, uint16_t& height) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    uint32_t w = 0, h = 0;
    if (!ReadNumber(text.substr(0, x), 1, 65535, w) || !ReadNumber(text.substr(x + 1), 1, 65535, h)) return false;
    width = static_cast<uint16_t>(w);
    height = static_cast<uint16_t>(h);
    return true;
}

bool ReadSwitch(const std::string& text, OutputSwitch& sw) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos) return false;
    uint32_t index = 0;
    if (!ReadNumber(text.substr(0, eq), 0, MAX_IO_LINE, index)) return false;
    const std::string state = text.substr(eq + 1);
    if (state == "on" || state == "1") {
        sw.on = true;
    } else if (state == "off" || state == "0") {
        sw.on = false;
    } else {
        return false;
    }
    sw.index = index;
    return true;
}

std::vector<std::string> SplitText(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& args) : m_args(args) {}

    ParseOutcome Run() {
        ParseOutcome outcome;
        outcome.ok = Parse(outcome.options) && Validate(outcome.options);
        outcome.error = m_error;
        return outcome;
    }

private:
    bool Fail(const std::string& error) {
        m_error = error;
        return false;
    }

    bool Parse(Options& o) {
        if (m_args.empty()) return Fail("no command given");
        const std::string& first = m_args[0];
        if (first == "help" || first == "--help" || first == "-h") {
            o.command = Command::Help;
            return true;
        }
        if (first == "record") o.command = Command::Record;
        else if (first == "io") o.command = Command::Io;
        else if (first == "probe") o.command = Command::Probe;
        else if (first == "check") o.command = Command::Check;
        else if (first == "--version" || first == "version") o.command = Command::Version;
        else if (first.compare(0, 1, "-") == 0) return Fail("the command must come first (record, io, probe or check)");
        else return Fail("unknown command '" + first + "'");

        std::set<OptionId> seen;
        for (size_t i = 1; i < m_args.size(); ++i) {
            const std::string& arg = m_args[i];
            if (arg == "-h") {
                o.command = Command::Help;
                return true;
            }
            if (arg.compare(0, 2, "--") != 0 || arg.size() == 2) return Fail("unexpected argument '" + arg + "'");
            const size_t eq = arg.find('=');
            const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const OptionSpec* spec = FindOption(name);
            if (spec == nullptr) return Fail("unknown option --" + name);
            if (!(spec->commands & CommandBit(o.command)))
                return Fail("--" + name + " is not an option of " + CommandName(o.command));
            if (!spec->repeatable && !seen.insert(spec->id).second) return Fail("--" + name + " given twice");
            std::string value;
            if (spec->takesValue) {
                if (eq != std::string::npos) {
                    value = arg.substr(eq + 1);
                } else if (i + 1 < m_args.size()) {
                    value = m_args[++i];
                } else {
                    return Fail("--" + name + " needs a value");
                }
            } else if (eq != std::string::npos) {
                return Fail("--" + name + " takes no value");
            }
            if (spec->id == OPT_HELP) {
                o.command = Command::Help;
                return true;
            }
            if (!Apply(*spec, value, o)) return false;
        }
        return true;
    }

    bool Apply(const OptionSpec& spec, const std::string& v, Options& o) {
        uint32_t n = 0;
        switch (spec.id) {
            case OPT_ADDRESS:
                if (v.empty() || HasControlOrBlank(v) || v.find_first_of("/?#@") != std::string::npos)
                    return Fail("--address must be a host name or IP address, without scheme or path (the port goes in --port)");
                o.address = v;
                return true;
            case OPT_PORT:
                if (!ReadNumber(v, 1, 65535, n)) return Fail(Range("port", 1, 65535));
                o.port = static_cast<uint16_t>(n);
                return true;
            case OPT_USER:
                if (HasControl(v)) return Fail("--user contains control characters");
                o.user = v;
                m_userGiven = true;
                return true;
            case OPT_PASSWORD:
                if (HasControl(v)) return Fail("--password contains control characters");
                o.password = v;
                m_passwordGiven = true;
                return true;
            case OPT_FORMAT:
                if (v == "mjpeg") o.format = VideoFormat::Mjpeg;
                else if (v == "h264") o.format = VideoFormat::H264;
                else if (v == "mpeg4") o.format = VideoFormat::Mpeg4;
                else return Fail("--format must be mjpeg, h264 or mpeg4");
                return true;
            case OPT_SIZE:
                if (!ReadSize(v, o.width, o.height))
                    return Fail("--size must be WIDTHxHEIGHT, each from 1 to 65535 (for example 640x480)");
                return true;
            case OPT_INTERVAL:
                if (!ReadNumber(v, 1, 65535, n)) return Fail(Range("interval", 1, 65535));
                o.intervalMs = static_cast<uint16_t>(n);
                return true;
            case OPT_QUALITY:
                if (!ReadNumber(v, 1, 100, n)) return Fail(Range("quality", 1, 100));
                o.quality = static_cast<uint16_t>(n);
                return true;
            case OPT_SECONDS:
                if (!ReadNumber(v, 1, MAX_SECONDS, n)) return Fail(Range("seconds", 1, MAX_SECONDS));
                o.seconds = n;
                return true;
            case OPT_OUT:
                if (v.empty() || HasControl(v)) return Fail("--out must name a directory");
                o.outDir = v;
                return true;
            case OPT_SET: {
                OutputSwitch sw;
                if (!ReadSwitch(v, sw)) return Fail("--set must be OUTPUT=on or OUTPUT=off (for example 0=on)");
                o.switches.push_back(sw);
                return true;
            }
            case OPT_WATCH:
                if (!ReadNumber(v, 0, MAX_SECONDS, n)) return Fail(Range("watch", 0, MAX_SECONDS));
                o.watchSeconds = n;
                return true;
            case OPT_IO_LINES:
                o.ioLinesText = v;
                return true;
            case OPT_LOG_LEVEL:
                if (!ReadLogThreshold(v, o.logThreshold))
                    return Fail("--log-level must be none, error, warning, notice, info or all");
                return true;
            case OPT_DLL:
                if (v.empty() || HasControl(v)) return Fail("--dll must name the driver library");
                o.dllPath = v;
                return true;
            case OPT_QUIET:
                o.quiet = true;
                return true;
            case OPT_JSON:
                o.json = true;
                return true;
            case OPT_HELP:
                return true;
        }
        return Fail("unknown option");
    }

    bool Validate(Options& o) {
        if (o.command == Command::Help || o.command == Command::Version) return true;
        if (o.address.empty()) return Fail(std::string(CommandName(o.command)) + " needs --address");
        if (m_passwordGiven && !m_userGiven) return Fail("--password needs --user");
        if (o.command == Command::Record && o.outDir.empty()) return Fail("record needs --out DIR");
        if (o.command == Command::Check && o.seconds == 0) o.seconds = CHECK_DEFAULT_SECONDS;
        std::string error;
        if (!ParseIoLines(o.ioLinesText, o.ioLines, error)) return Fail("--io-lines: " + error);
        for (const OutputSwitch& sw : o.switches) {
            if (sw.index >= o.ioLines.outputs.size())
                return Fail("--set " + std::to_string(sw.index) + ": there are only " +
                            std::to_string(o.ioLines.outputs.size()) + " outputs (see --io-lines)");
        }
        return true;
    }

    const std::vector<std::string>& m_args;
    std::string m_error;
    bool m_userGiven = false;
    bool m_passwordGiven = false;
};

}  // namespace

ParseOutcome ParseCommandLine(const std::vector<std::string>& args) { return Parser(args).Run(); }

bool ParseIoLines(const std::string& text, IoLines& lines, std::string& error) {
    lines = IoLines();
    if (text.empty()) return true;
    bool haveInput = false, haveOutput = false;
    std::set<uint32_t> used;
    for (const std::string& part : SplitText(text, ';')) {
        const size_t eq = part.find('=');
        if (eq == std::string::npos) {
            error = "expected input=LINES or output=LINES, got '" + part + "'";
            return false;
        }
        const std::string key = part.substr(0, eq);
        std::vector<uint32_t>* list = nullptr;
        if (key == "input") {
            if (haveInput) { error = "input given twice"; return false; }
            haveInput = true;
            list = &lines.inputs;
        } else if (key == "output") {
            if (haveOutput) { error = "output given twice"; return false; }
            haveOutput = true;
            list = &lines.outputs;
        } else {
            error = "unknown key '" + key + "' (input or output)";
            return false;
        }
        const std::string values = part.substr(eq + 1);
        if (values.empty()) continue;
        for (const std::string& item : SplitText(values, ',')) {
            uint32_t line = 0;
            if (!ReadNumber(item, 0, MAX_IO_LINE, line)) {
                error = "line '" + item + "' must be a number from 0 to " + std::to_string(MAX_IO_LINE);
                return false;
            }
            if (!used.insert(line).second) {
                error = "line " + item + " is listed twice";
                return false;
            }
            list->push_back(line);
        }
    }
    return true;
}

std::string UsageText() {
    return "usage: halvencap <command> [options]\n"
           "\n"
           "  record --address A [--port P] [--user U --password W] [--format mjpeg|h264|mpeg4]\n"
           "         [--size WxH] [--interval MS] [--quality Q] [--seconds N] --out DIR\n"
           "         records channel 0 into DIR (video.mjpeg, video.h264 or video.m4v, and index.csv)\n"
           "         until Ctrl+C or N seconds; defaults: mjpeg, 640x480, 100 ms, quality 75\n"
           "  io     --address A [--port P] [--user U --password W] [--set OUT=on|off ...]\n"
           "         [--watch SECONDS] [--io-lines TEXT]\n"
           "         switches outputs and prints input changes and I/O failures;\n"
           "         --io-lines maps indexes to camera lines (default \"" + std::string(DEFAULT_IO_LINES) + "\")\n"
           "  probe  --address A [--port P] [--user U --password W] [--json]\n"
           "         prints what the device can do: name, firmware, sensor area, codecs,\n"
           "         picture sizes, frame intervals and I/O lines (as JSON with --json)\n"
           "  check  --address A [--port P] [--user U --password W] [--seconds N] [--out DIR]\n"
           "         [--size WxH] [--interval MS] [--quality Q] [--io-lines TEXT]\n"
           "         what a recording server does with a new camera: login check, probe, N s\n"
           "         (default " + std::to_string(CHECK_DEFAULT_SECONDS) + ") of every video format it offers, output 0 switched on\n"
           "         and off, inputs read; writes halvencap-check.md and .json and the samples\n"
           "         into DIR (default: current directory); exit 0 when fit for recording\n"
           "\n"
           "  common: --log-level none|error|warning|notice|info|all (default info), driver lines\n"
           "          go to stderr; --dll PATH (default: Halvencap.dll next to halvencap.exe);\n"
           "          --quiet (no live status line); --help\n"
           "  --version [--dll PATH]  prints the program's version and the driver library's\n"
           "\n"
           "exit codes: 0 ok (check: fit for recording), 1 other failure, 2 bad arguments,\n"
           "            3 device unreachable or refused,"
           " 4 no video\n";
}

const char* FormatName(VideoFormat format) {
    switch (format) {
        case VideoFormat::Mjpeg: return "mjpeg";
        case VideoFormat::Mpeg4: return "mpeg4";
        case VideoFormat::H264: return "h264";
    }
    return "?";
}

bool ShowLogLine(int threshold, int level) {
    int rank = LOG_SHOW_ALL;
    switch (level) {
        case 1: rank = LOG_SHOW_ERROR; break;
        case 2: rank = LOG_SHOW_WARNING; break;
        case 100: rank = LOG_SHOW_NOTICE; break;
        case 3: rank = LOG_SHOW_INFO; break;
        default: break;
    }
    return rank <= threshold;
}

std::string LogLevelName(int level) {
    switch (level) {
        case 1: return "error";
        case 2: return "warning";
        case 3: return "info";
        case 100: return "notice";
        default: return "level " + std::to_string(level);
    }
}

}  // namespace cli
}  // namespace zentavo
