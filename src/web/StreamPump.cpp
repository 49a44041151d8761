#include "web/StreamPump.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "runtime/ThreadFactory.h"

namespace Web {

const char* const CStreamPump::kThreadName = "HTTP stream reader";

namespace {

class CExclusive {
public:
    explicit CExclusive(SRWLOCK& lock) : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~CExclusive() { ReleaseSRWLockExclusive(&m_lock); }
    CExclusive(const CExclusive&) = delete;
    CExclusive& operator=(const CExclusive&) = delete;

private:
    SRWLOCK& m_lock;
};

// The other way round: leaves the lock for a WinHTTP call and takes it back.
class CUnlocked {
public:
    explicit CUnlocked(SRWLOCK& lock) : m_lock(lock) { ReleaseSRWLockExclusive(&m_lock); }
    ~CUnlocked() { AcquireSRWLockExclusive(&m_lock); }
    CUnlocked(const CUnlocked&) = delete;
    CUnlocked& operator=(const CUnlocked&) = delete;

private:
    SRWLOCK& m_lock;
};

}  // namespace

CStreamPump::~CStreamPump() {
    {
        CExclusive lock(m_lock);
        m_stopping = true;
        m_cancelled = true;
        m_stream = nullptr;
    }
    WakeAllConditionVariable(&m_changed);
    if (m_thread != nullptr) {
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
    }
}

DWORD WINAPI CStreamPump::ThreadEntry(LPVOID self) {
    static_cast<CStreamPump*>(self)->Run();
    return 0;
}

bool CStreamPump::Prepare() {
    CExclusive lock(m_lock);
    return StartThread();
}

bool CStreamPump::StartThread() {
    if (m_thread != nullptr)
        return true;
    m_thread = zentavo::CThreadFactory::Create(&CStreamPump::ThreadEntry, this, false, nullptr);
    if (m_thread != nullptr) {
        m_startFailed = false;
        return true;
    }
    const DWORD error = GetLastError();
    // A channel retries its connection several times a second: one line per
    // run of failed starts, not one per attempt.
    if (!m_startFailed)
        zentavo::CThreadFactory::LogStartFailure(m_logger, "zentavo::CStreamPump::StartThread", "thread", kThreadName,
                                                 error);
    m_startFailed = true;
    return false;
}

// Called with the lock held.
bool CStreamPump::Begin(HINTERNET request, IStreamSink* sink) {
    if (!StartThread())
        return false;
    m_stream = nullptr;  // ends the reading of any other request
    WakeAllConditionVariable(&m_changed);
    // The thread may still be in a read of an earlier request that was
    // abandoned; Cancel releases this wait as well.
    while (!m_cancelled && (m_pumped != nullptr || m_job != nullptr))
        SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
    if (m_cancelled)
        return false;
    m_stream = request;
    m_job = request;
    m_sink = sink;
    m_ended = false;
    m_arrived.clear();
    WakeAllConditionVariable(&m_changed);
    return true;
}

uint32_t CStreamPump::Take(HINTERNET request, ByteArray& out) {
    out.clear();
    CExclusive lock(m_lock);
    if (m_cancelled || m_stopping || request == nullptr)
        return 0;
    if ((m_stream != request || m_sink != nullptr) && !Begin(request, nullptr))
        return 0;
    while (!m_cancelled && !m_ended && m_arrived.empty())
        SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
    if (m_cancelled || m_arrived.empty())
        return 0;
    // Swapping keeps both buffers' capacity: after the first turns no turn
    // allocates.
    out.swap(m_arrived);
    if (out.size() >= kAheadLimit)
        WakeAllConditionVariable(&m_changed);
    return static_cast<uint32_t>(out.size());
}

bool CStreamPump::Drive(HINTERNET request, IStreamSink& sink) {
    CExclusive lock(m_lock);
    if (m_cancelled || m_stopping || request == nullptr || !Begin(request, &sink))
        return false;
    while (!m_cancelled && !m_ended)
        SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
    // Cancelled: a block being handed over finishes first; no other starts.
    if (m_stream == request)
        m_stream = nullptr;
    while (m_inSink)
        SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
    m_sink = nullptr;
    return true;
}

bool CStreamPump::Cancel(HINTERNET request) {
    bool callerCloses = true;
    {
        CExclusive lock(m_lock);
        m_cancelled = true;
        if (m_stream == request)
            m_stream = nullptr;
        if (request != nullptr && m_pumped == request && m_inCall) {
            m_closeAfterCall = true;
            callerCloses = false;
        }
    }
    WakeAllConditionVariable(&m_changed);
    return callerCloses;
}

void CStreamPump::Rearm() {
    CExclusive lock(m_lock);
    if (!m_stopping)
        m_cancelled = false;
}

void CStreamPump::Run() {
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kBlock]);
    CExclusive lock(m_lock);
    for (;;) {
        while (!m_stopping && m_job == nullptr)
            SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
        if (m_job == nullptr)
            return;  // stopping with nothing to do
        m_pumped = m_job;
        m_job = nullptr;
        if (block) {
            Pump(m_pumped, block.get());
        } else if (m_stream == m_pumped) {
            m_ended = true;  // no buffer to read into: the stream fails
        }
        m_pumped = nullptr;
        WakeAllConditionVariable(&m_changed);
        if (m_stopping)
            return;
    }
}

// Called and returning with the lock held.
void CStreamPump::Pump(HINTERNET request, uint8_t* block) {
    for (;;) {
        while (m_stream == request && !m_stopping && m_sink == nullptr && m_arrived.size() >= kAheadLimit)
            SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
        if (m_stream != request || m_stopping)
            return;  // abandoned; whoever cancelled has closed the handle

        // Waiting for data first and then asking only for what is there:
        // a synchronous read of more than has arrived waits for the rest,
        // which a paced stream may not send before the receive time-out.
        m_inCall = true;
        DWORD got = 0;
        bool ok;
        {
            CUnlocked unlocked(m_lock);
            DWORD available = 0;
            ok = WinHttpQueryDataAvailable(request, &available) != FALSE && available > 0 &&
                 WinHttpReadData(request, block, std::min(available, kBlock), &got) != FALSE && got > 0;
        }
        m_inCall = false;

        if (m_closeAfterCall) {
            m_closeAfterCall = false;
            CUnlocked unlocked(m_lock);
            WinHttpCloseHandle(request);
            return;
        }
        if (m_stream != request || m_stopping)
            return;
        if (!ok) {
            m_ended = true;
            WakeAllConditionVariable(&m_changed);
            return;
        }
        got = std::min<DWORD>(got, kBlock);
        if (m_sink != nullptr) {
            IStreamSink* sink = m_sink;
            m_inSink = true;
            bool more;
            {
                CUnlocked unlocked(m_lock);
                try {
                    more = sink->OnStreamData(block, got);
                } catch (...) {
                    more = false;  // nothing may leave this thread: the sink's failure ends the stream
                }
            }
            m_inSink = false;
            if (!more)
                m_ended = true;
            // Drive waits for the end, or after Cancel for the sink to be left.
            if (!more || m_stream != request)
                WakeAllConditionVariable(&m_changed);
            if (!more)
                return;
            continue;
        }
        const bool wasEmpty = m_arrived.empty();
        try {
            m_arrived.insert(m_arrived.end(), block, block + got);
        } catch (...) {
            // Out of memory for what arrived: the stream fails like a failed
            // read, and the consumer is not left waiting for it.
            m_ended = true;
            WakeAllConditionVariable(&m_changed);
            return;
        }
        // A consumer waits only for an empty buffer.
        if (wasEmpty)
            WakeAllConditionVariable(&m_changed);
    }
}

}  // namespace Web
