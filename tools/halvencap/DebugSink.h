// The debug sink handed to the driver's Open: shows driver log lines on
// stderr with their level (filtered by --log-level) and remembers what the
// program needs to judge the run: the last line and whether the device
// turned the credentials or a request away.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "Console.h"
#include "host/DebugInfo.h"
#include "host/HostContract.h"

namespace zentavo {
namespace cli {

// A driver line reporting that the device answered 401 or 403.
bool IsRefusalLine(const std::string& text);

class DebugSink final : public ipcapture::IDebugSink {
public:
    DebugSink(Console& console, int threshold) : m_console(console), m_threshold(threshold) {}

    void OnDebugMessage(ipcapture::CDebugInfoIf* info) override;

    std::string LastLine() const;
    bool Refused() const;
    uint32_t Errors() const;

private:
    void Show(int level, const char* text);

    Console& m_console;
    int m_threshold;
    mutable std::mutex m_mutex;
    std::string m_last;
    bool m_refused = false;
    uint32_t m_errors = 0;
};

}  // namespace cli
}  // namespace zentavo
