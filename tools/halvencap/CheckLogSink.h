// The debug sink of one `check` step: shows the driver's lines as `record`
// and `io` do and keeps every one of them for the step's part of the report.
#pragma once

#include <mutex>
#include <vector>

#include "CheckReport.h"
#include "DebugSink.h"

namespace zentavo {
namespace cli {

class CheckLogSink final : public ipcapture::IDebugSink {
public:
    CheckLogSink(Console& console, int threshold) : m_shown(console, threshold) {}

    void OnDebugMessage(ipcapture::CDebugInfoIf* info) override;

    std::vector<CheckLogLine> Lines() const;
    bool Refused() const { return m_shown.Refused(); }

private:
    DebugSink m_shown;
    mutable std::mutex m_mutex;
    std::vector<CheckLogLine> m_lines;
};

}  // namespace cli
}  // namespace zentavo
