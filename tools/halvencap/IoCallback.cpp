#include "IoCallback.h"

#include <cstdio>

namespace zentavo {
namespace cli {

const char* InputStateName(uint32_t state) {
    switch (state) {
        case 0: return "unknown";
        case 1: return "inactive";
        case 2: return "active";
        default: return "invalid";
    }
}

std::string FormatInputChange(double seconds, uint32_t index, const IoLines& lines, uint32_t state) {
    char text[120];
    if (index < lines.inputs.size()) {
        std::snprintf(text, sizeof text, "+%.2fs input %u (camera line %u): %s", seconds, index, lines.inputs[index],
                      InputStateName(state));
    } else {
        std::snprintf(text, sizeof text, "+%.2fs input %u: %s", seconds, index, InputStateName(state));
    }
    return text;
}

double IoCallback::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

// Both callbacks run inside the driver's I/O threads: nothing may be thrown
// back into them.
void IoCallback::OnInputChanged(uint32_t index, uint32_t state) {
    try {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_inputs[index] = state;
            ++m_changes;
        }
        m_console.Print(FormatInputChange(Elapsed(), index, m_lines, state));
    } catch (...) {
    }
}

void IoCallback::OnIOFailure() {
    try {
        uint32_t failures;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            failures = ++m_failures;
        }
        char text[120];
        std::snprintf(text, sizeof text, "+%.2fs I/O failure #%u: the device did not carry out an I/O request",
                      Elapsed(), failures);
        m_console.Error(text);
    } catch (...) {
    }
}

uint32_t IoCallback::Failures() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failures;
}

uint32_t IoCallback::Changes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_changes;
}

std::map<uint32_t, uint32_t> IoCallback::Inputs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inputs;
}

}  // namespace cli
}  // namespace zentavo
