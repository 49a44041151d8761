// The driver's HTTP client on WinHTTP: one session and one connection to the
// device for the sender's whole life, one synchronous request at a time,
// credentials from the device record by the scheme the device asked for.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "web/BaseHttpSender.h"
#include "web/DataWaiter.h"
#include "web/StreamPump.h"
#include "web/WinHttpHandle.h"

namespace Web {

class CHttpSender : public CBaseHttpSender {
public:
    // logger (may be null) hears when the stream reading thread cannot be
    // had; nothing else of the sender logs.
    explicit CHttpSender(const zentavo::DEVICE_INFO& device, zentavo::IDebugMessage* logger = nullptr);
    ~CHttpSender() override;

    bool SendRequest(const HTTP_REQUEST& request) override;
    void CloseRequest() override;
    uint32_t GetAvailableBytes() override;
    uint32_t ReadBody(ByteArray& out) override;
    uint32_t ReadSome(ByteArray& out, unsigned maxBytes, bool clearFirst) override;
    // For an endless body read as it arrives: replaces out with everything
    // that arrived since the last call, waiting for at least one byte; 0 at
    // the end of the body, on failure and once CloseRequest was called. A
    // body read this way is not read with ReadSome or ReadBody as well.
    uint32_t ReadStream(ByteArray& out);
    // The same body handed to sink on the reading thread itself, each piece
    // as it arrives, until the body ends, a read fails, the sink refuses or
    // CloseRequest is called. False when there was no request to read.
    bool ReadStreamInto(IStreamSink& sink);
    // Makes sure the thread that reads streams is there; false (logged)
    // when the process has no thread to give. Asked before a stream is
    // requested, so a camera is not asked for one that cannot be read.
    bool PrepareStream() { return m_pump.Prepare(); }

    uint32_t StatusCode() const { return m_statusCode; }
    uint32_t ContentLength() const { return m_contentLength; }
    // WinHTTP scheme flag the device named in its first 401; 0 until then.
    uint32_t LearnedAuthScheme() const { return m_authScheme; }
    bool IsSessionOpen() const { return static_cast<bool>(m_session); }

    static constexpr DWORD kReadStep = 8192;
    static constexpr uint32_t kUnannouncedBodyLimit = 0x100000;

private:
    void OpenSession();
    bool Connect();
    uint32_t ChooseAuthScheme(int32_t authHint) const;
    bool PrepareRequest(HINTERNET request, const HTTP_REQUEST& description, uint32_t scheme);
    void ReadResponseNumbers(HINTERNET request);
    DWORD ReadAvailable(HINTERNET request, uint8_t* buffer, DWORD capacity);

    CWinHttpHandle m_session;
    CWinHttpHandle m_connection;
    // Published as soon as it is opened so that CloseRequest on another
    // thread can cancel a blocked send, receive or read.
    std::atomic<HINTERNET> m_request{nullptr};
    CDataWaiter m_waiter;
    CStreamPump m_pump;
    // Bytes WinHTTP has already said are readable and that were not read
    // yet: reads within them need no wait. Used by the reading thread only.
    DWORD m_knownAvailable = 0;

public:
    uint32_t m_statusCode = 0;
    uint32_t m_contentLength = 0;

private:
    uint32_t m_authScheme = 0;
};

}  // namespace Web
