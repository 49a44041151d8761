#include "web/ResultDef.h"

#include <cstdarg>

#include "runtime/TextUtils.h"

namespace zentavo {

void CResultDef::Set(int level, int code, const std::string& text) {
    m_level = level;
    m_code = code;
    m_text = text;
}

void CResultDef::SetFormatted(int level, int code, const char* format, ...) {
    m_level = level;
    m_code = code;
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    m_text = FormatStringV(format, args);
    va_end(args);
}

}  // namespace zentavo
