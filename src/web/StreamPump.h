// Reads an endless response body (a camera's live stream) on a thread of
// its own, in blocks as large as what has arrived. Either the reading thread
// hands every block to a sink itself (Drive: no thread switch per block), or
// it collects the blocks for a consumer that takes them in one piece per
// turn (Take). The caller never sits in a WinHTTP call itself, so Cancel
// releases it at once even where closing a request handle does not end a
// synchronous wait for data (Wine lets such a wait run on until data comes
// or its receive time-out passes).
//
// The threads meet at a slim reader/writer lock and a condition variable:
// on Windows and under Wine both wait in user space (no kernel object, no
// Wine server round trip).
//
// The reading thread comes from the driver's thread factory like every other
// driver thread, so a process at its thread or address-space ceiling meets a
// start that says so (one line naming the thread and the device) rather than
// an exception.
#pragma once

#include <cstdint>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winhttp.h>

#include "runtime/DebugMessage.h"
#include "web/HttpRequest.h"
#include "web/IStreamSink.h"

namespace Web {

class CStreamPump {
public:
    // Largest single read; a read never asks for more than has arrived.
    static constexpr DWORD kBlock = 65536;
    // Bytes read ahead of a consumer that has not taken them yet; reading
    // pauses there so a stalled consumer does not make the buffer grow.
    static constexpr size_t kAheadLimit = 4 * kBlock;

    static const char* const kThreadName;

    // logger (may be null: no line) names the device when the reading
    // thread cannot be had.
    explicit CStreamPump(zentavo::IDebugMessage* logger = nullptr) : m_logger(logger) {}
    CStreamPump(const CStreamPump&) = delete;
    CStreamPump& operator=(const CStreamPump&) = delete;
    // Joins the thread; a read abandoned by Cancel ends first with its data
    // or its receive time-out.
    ~CStreamPump();

    // Starts the reading thread if it is not running yet; false (and one
    // line until a start succeeds again) when no thread could be had. Lets
    // a caller find that out before it asks a camera for a stream.
    bool Prepare();

    // Replaces out with the body bytes of request that arrived since the
    // last call, waiting for at least one. 0 at the end of the body, on a
    // failure or time-out, and once cancelled. One request at a time: a
    // different request ends the pumping of the previous one.
    uint32_t Take(HINTERNET request, ByteArray& out);
    // Reads request's body into sink, on the reading thread, until the body
    // ends, a read fails or times out, the sink refuses or Cancel is called;
    // returns false when it did not start. When it returns, the sink is not
    // being called and will not be called again.
    bool Drive(HINTERNET request, IStreamSink& sink);
    // Stops pumping request, releases a waiting Take at once and refuses
    // later ones until Rearm. Returns true when the caller is to close the
    // handle; false when the pump is inside a WinHTTP call on it and closes
    // it itself when that call returns (closing it under a call about to
    // start could let the call reach a new handle given the same value).
    bool Cancel(HINTERNET request);
    void Rearm();

private:
    static DWORD WINAPI ThreadEntry(LPVOID self);
    void Run();
    // Called with the lock held.
    bool StartThread();
    // Makes request the stream being read; false when cancelled meanwhile.
    bool Begin(HINTERNET request, IStreamSink* sink);
    void Pump(HINTERNET request, uint8_t* block);

    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_changed = CONDITION_VARIABLE_INIT;
    zentavo::IDebugMessage* m_logger;
    HANDLE m_thread = nullptr;       // joined and closed by the destructor
    bool m_startFailed = false;      // the last start failed and was logged
    bool m_stopping = false;
    bool m_cancelled = false;
    HINTERNET m_stream = nullptr;    // the request Take serves
    HINTERNET m_job = nullptr;       // handed to the thread, cleared when it takes it
    HINTERNET m_pumped = nullptr;    // the request the thread reads; null when idle
    bool m_inCall = false;           // the thread is inside a WinHTTP call on m_pumped
    bool m_closeAfterCall = false;   // Cancel left closing m_pumped to the thread
    bool m_ended = false;            // m_stream's body ended or failed
    IStreamSink* m_sink = nullptr;   // Drive's sink; null for Take
    bool m_inSink = false;           // the thread is inside m_sink
    ByteArray m_arrived;             // read, not taken yet
};

}  // namespace Web
