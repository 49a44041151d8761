// The digital I/O callback of `io`: prints input changes and I/O failures
// as they come (both arrive on the driver's I/O threads) and keeps the
// latest state of every input for the summary.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "Console.h"
#include "Options.h"
#include "host/HostContract.h"

namespace zentavo {
namespace cli {

// Input states as the driver reports them.
const char* InputStateName(uint32_t state);
// "+1.50s input 0 (camera line 0): active"
std::string FormatInputChange(double seconds, uint32_t index, const IoLines& lines, uint32_t state);

class IoCallback final : public ipcapture::IIOCallback {
public:
    IoCallback(Console& console, const IoLines& lines)
        : m_console(console), m_lines(lines), m_start(std::chrono::steady_clock::now()) {}

    void OnInputChanged(uint32_t index, uint32_t state) override;
    void OnIOFailure() override;

    uint32_t Failures() const;
    uint32_t Changes() const;
    std::map<uint32_t, uint32_t> Inputs() const;

private:
    double Elapsed() const;

    Console& m_console;
    IoLines m_lines;
    std::chrono::steady_clock::time_point m_start;
    mutable std::mutex m_mutex;
    std::map<uint32_t, uint32_t> m_inputs;
    uint32_t m_failures = 0;
    uint32_t m_changes = 0;
};

}  // namespace cli
}  // namespace zentavo
