// The log record handed to the host's debug sink. It lives on the logging
// thread's stack for the duration of one OnDebugMessage call.
#pragma once

#include <cstdint>

namespace zentavo {
namespace ipcapture {

class CDebugInfoIf {
public:
    virtual void* DeletingDestructor(unsigned flags) = 0;  // 0
    virtual uint8_t GetLevel() = 0;                         // 1
    virtual const char* GetText() = 0;                      // 2
};

}  // namespace ipcapture

class CDebugInfo : public ipcapture::CDebugInfoIf {
public:
    CDebugInfo(uint8_t level, const char* text);
    ~CDebugInfo();
    CDebugInfo(const CDebugInfo&) = delete;
    CDebugInfo& operator=(const CDebugInfo&) = delete;

    void* DeletingDestructor(unsigned flags) override;
    uint8_t GetLevel() override { return m_level; }
    const char* GetText() override { return m_text; }

private:
    uint8_t m_level;
    char* m_text;  // owned copy; null for an empty text
};

}  // namespace zentavo
