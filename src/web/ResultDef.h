// Outcome of one exchange with the device: the level at which a failure
// deserves to be logged, a result code (0 = success) and a ready message.
#pragma once

#include <string>

#include "runtime/LogLevels.h"

namespace zentavo {

class CResultDef {
public:
    CResultDef() = default;
    CResultDef(int level, int code, const std::string& text)
        : m_level(level), m_code(code), m_text(text) {}
    CResultDef(const CResultDef&) = default;
    CResultDef& operator=(const CResultDef&) = default;
    virtual ~CResultDef() = default;

    void Set(int level, int code, const std::string& text);
    // The message is formatted at its exact size; a null format leaves the
    // previous text in place.
    void SetFormatted(int level, int code, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 4, 5)))
#endif
        ;

    bool Succeeded() const { return m_code == 0; }

    int m_level = LOG_INFO;
    int m_code = 0;
    std::string m_text;
};

// Result codes shared by the device exchanges.
enum ResultCode : int {
    RESULT_OK = 0,
    RESULT_BAD_STATUS = 8,         // the device answered outside 2xx
    RESULT_NOT_SENT = 11,          // no connection or no status
    RESULT_BAD_RESPONSE = 12,      // empty or unusable answer
    RESULT_ACTION_REFUSED = 13,    // a parameter action was not answered
};

}  // namespace zentavo
