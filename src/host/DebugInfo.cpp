#include "host/DebugInfo.h"

#include <cstring>
#include <new>

namespace zentavo {

CDebugInfo::CDebugInfo(uint8_t level, const char* text) : m_level(level), m_text(nullptr) {
    if (text != nullptr && text[0] != '\0') {
        const size_t n = std::strlen(text);
        m_text = new (std::nothrow) char[n + 1];
        if (m_text != nullptr) std::memcpy(m_text, text, n + 1);
    }
}

CDebugInfo::~CDebugInfo() { delete[] m_text; }

void* CDebugInfo::DeletingDestructor(unsigned flags) {
    // Records are built on the stack; the host has no business freeing them,
    // but honour the contract if it ever asks for a plain destruction.
    if (flags & 1) return this;
    delete[] m_text;
    m_text = nullptr;
    return this;
}

}  // namespace zentavo
