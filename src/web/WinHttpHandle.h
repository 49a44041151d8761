// Owns one WinHTTP handle and closes it when it goes.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winhttp.h>

namespace Web {

class CWinHttpHandle {
public:
    CWinHttpHandle() = default;
    explicit CWinHttpHandle(HINTERNET handle) : m_handle(handle) {}
    CWinHttpHandle(const CWinHttpHandle&) = delete;
    CWinHttpHandle& operator=(const CWinHttpHandle&) = delete;
    ~CWinHttpHandle() { Reset(); }

    HINTERNET Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void Reset(HINTERNET handle = nullptr) {
        if (m_handle != nullptr)
            WinHttpCloseHandle(m_handle);
        m_handle = handle;
    }
    HINTERNET Release() {
        HINTERNET handle = m_handle;
        m_handle = nullptr;
        return handle;
    }

private:
    HINTERNET m_handle = nullptr;
};

}  // namespace Web
