#include "host/LoggerInstance.h"

#include <cstdarg>

#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

// At this count the schedule starts over from its every-4096th stage.
const uint32_t kCounterWrap = 65535;
const uint32_t kCounterRestart = 4095;

}  // namespace

CLoggerInstance::CLoggerInstance(IDriver* target) : m_target(target), m_counter(0) {}

CLoggerInstance::~CLoggerInstance() = default;

bool CLoggerInstance::IsDelivered(uint32_t n) {
    return n < 15 || (n < 255 && n % 16 == 0) || (n < 4095 && n % 256 == 0) ||
           (n < kCounterWrap && n % 4096 == 0);
}

void CLoggerInstance::Log(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatStringV(format, args);
    va_end(args);
    if (text.empty()) return;

    CLockGuard guard(m_lock);
    if (text == m_lastText) return;
    const uint32_t n = ++m_counter;
    if (n >= kCounterWrap) {
        m_counter = kCounterRestart;
        return;
    }
    if (!IsDelivered(n)) return;
    m_lastText = text;
    if (m_target != nullptr) m_target->Message(level, "%s", text.c_str());
}

}  // namespace zentavo
