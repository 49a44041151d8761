#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include "streaming/BaseRTSPClient.h"

#include <algorithm>
#include <cstdlib>

#include "runtime/TextUtils.h"
#include "runtime/Time.h"
#include "streaming/RTPPacket.h"
#include "streaming/RTSPReplyFacts.h"

namespace zentavo {

namespace {

const unsigned SESSION_TICK_MS = 2000;
const unsigned CONNECT_STEP_MS = 100;
const int32_t STOP_READ_TIMEOUT_MS = 100;
// How often a wait for a reply looks at the stop event.
const unsigned READ_SLICE_MS = 50;
const size_t READ_CHUNK = 8192;

SOCKET AsSocket(uintptr_t s) { return static_cast<SOCKET>(s); }

bool SetTimeoutOption(SOCKET s, int option, int32_t ms) {
    const DWORD value = static_cast<DWORD>(std::max<int32_t>(ms, 0));
    return setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool SetBlocking(SOCKET s, bool blocking) {
    u_long mode = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &mode) == 0;
}

}  // namespace

CBaseRTSPClient::CBaseRTSPClient(IDebugMessage* driver)
    : CBaseThread(driver),
      m_socket(0),
      m_keepAliveTime(0),
      m_user(nullptr),
      m_transportMode(RTSP_TRANSPORT_UDP),
      m_paused(false),
      m_multicast(false),
      m_winsockStarted(false),
      m_readTimeoutMs(m_settings.receiveTimeoutMs),
      m_authScheme(RTSP_AUTH_NONE),
      m_haveChallenge(false),
      m_nonceCount(0),
      m_cnonceSerial(0) {
    WSADATA data;
    m_winsockStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

CBaseRTSPClient::~CBaseRTSPClient() {
    Stop();
    if (m_winsockStarted) WSACleanup();
}

void CBaseRTSPClient::ResetSession() {
    m_parser.Reset();
    m_authScheme = m_settings.authScheme;
    m_challenge = DIGEST_CHALLENGE();
    m_haveChallenge = false;
    m_sentNonce.clear();
    m_countedNonce.clear();
    m_nonceCount = 0;
    m_cnonce.clear();
    m_sentCredentials = false;
    m_credentialsAccepted = false;
    m_paused = false;
    m_keepAliveTime = 0;
    m_readTimeoutMs = m_settings.receiveTimeoutMs;
    m_result = RTSP_SESSION_RESULT();
    m_lastReply.clear();
    m_lastStatus = 0;
    m_readEnd = READ_COMPLETE;
    m_keepAliveMethod = RTSP_OPTIONS;
    m_publicKnown = false;
    m_getParameterListed = false;
    m_awaitedMethod = 0;
    m_rtpChannel = 0;
    m_rtcpChannel = 1;
}

bool CBaseRTSPClient::Start(const RTSP_CLIENT_SETTINGS& settings, IRTSPClientUser* user) {
    // A session still running keeps its socket; only an idle client starts.
    if (IsRunning()) return false;
    CloseSocket();
    m_settings = settings;
    ResetSession();
    m_user = user;
    m_transportMode = settings.interleaved ? RTSP_TRANSPORT_INTERLEAVED : RTSP_TRANSPORT_UDP;
    m_played = false;
    m_playTick = 0;
    m_sessionInterleaved = m_transportMode == RTSP_TRANSPORT_INTERLEAVED;
    const std::string device = m_driver != nullptr ? m_driver->GetDeviceName() : std::string();
    if (!Connect()) {
        m_result.connectFailed = true;
        Stop();
        return false;
    }
    if (!StartThread(FormatString("RTSP Client Thread (%s)", device.c_str()))) {
        Stop();
        return false;
    }
    return true;
}

void CBaseRTSPClient::Stop() {
    if (m_socket != 0) {
        m_readTimeoutMs = STOP_READ_TIMEOUT_MS;
        SetTimeoutOption(AsSocket(m_socket), SO_RCVTIMEO, STOP_READ_TIMEOUT_MS);
    }
    const int32_t larger = std::max(std::max(m_settings.receiveTimeoutMs, m_settings.sendTimeoutMs), 0);
    StopThread(static_cast<unsigned>(2 * larger + 1000));
    CloseSocket();
    m_user = nullptr;
    m_keepAliveTime = 0;
}

void CBaseRTSPClient::CloseSocket() {
    if (m_socket == 0) return;
    closesocket(AsSocket(m_socket));
    m_socket = 0;
}

bool CBaseRTSPClient::Connect() {
    if (!m_winsockStarted) return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    const int buffer = m_settings.receiveBufferSize;
    if (setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer) != 0 ||
        !SetTimeoutOption(s, SO_RCVTIMEO, m_settings.receiveTimeoutMs) ||
        !SetTimeoutOption(s, SO_SNDTIMEO, m_settings.sendTimeoutMs)) {
        closesocket(s);
        return false;
    }
    const uint32_t address = ResolveHost(m_settings.host);
    if (address == 0 || !SetBlocking(s, false)) {
        closesocket(s);
        return false;
    }
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    to.sin_port = htons(m_settings.port);
    if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        const int steps = m_settings.connectTimeoutMs / int32_t(CONNECT_STEP_MS);
        bool connected = false;
        if (WSAGetLastError() == WSAEWOULDBLOCK && steps >= 1) {
            for (int i = 0; i < steps && !connected; ++i) {
                fd_set writable, failed;
                FD_ZERO(&writable);
                FD_ZERO(&failed);
                FD_SET(s, &writable);
                FD_SET(s, &failed);
                timeval step = {0, long(CONNECT_STEP_MS) * 1000};
                const int ready = select(0, nullptr, &writable, &failed, &step);
                if (ready > 0 && FD_ISSET(s, &failed)) m_result.connectRefused = true;
                if (ready < 0 || FD_ISSET(s, &failed)) break;
                connected = ready > 0 && FD_ISSET(s, &writable);
            }
        }
        if (!connected) {
            closesocket(s);
            return false;
        }
    }
    if (!SetBlocking(s, true)) {
        closesocket(s);
        return false;
    }
    m_socket = static_cast<uintptr_t>(s);
    return true;
}

void CBaseRTSPClient::Run() {
    m_pauseEvent.Reset();
    m_playEvent.Reset();
    if (Describe()) {
        if (CallOnDescribe() && Setup()) {
            if (m_user != nullptr) {
                try {
                    m_user->OnSetupDone(m_parser.Response());
                } catch (...) {
                }
            }
            if (!m_paused) m_playEvent.Set();
            CEvent* const events[] = {&m_stopEvent, &m_pauseEvent, &m_playEvent};
            for (;;) {
                const unsigned which = WaitAny(events, 3, SESSION_TICK_MS);
                if (which == 0) break;
                if (which == 1) {
                    if (SendRequest(RTSP_PAUSE)) m_paused = true;
                } else if (which == 2) {
                    m_paused = false;
                    // Interleaved, the session lives inside PLAY until the
                    // stream or the stop ends it.
                    if (m_transportMode == RTSP_TRANSPORT_INTERLEAVED) {
                        PlayInterleaved();
                        break;
                    }
                    if (!Request(RTSP_PLAY)) break;
                    m_playTick = GetTickCount64();
                    m_played = true;
                    m_result.played = true;
                } else {
                    KeepAliveCheck();
                }
            }
        }
        Teardown();
    }
    CallOnSessionEnded();
}

bool CBaseRTSPClient::Request(int method) {
    if (SendRequest(method)) return true;
    if (IsStopRequested()) return false;
    RTSP_SESSION_RESULT& r = m_result;
    r.failedMethod = method;
    r.statusCode = m_lastStatus;
    r.reasonPhrase = m_lastStatus != 0 ? RtspReasonPhrase(m_lastReply) : std::string();
    r.noAnswer = m_lastStatus == 0 && m_readEnd == READ_TIMED_OUT;
    if (m_lastStatus == 0 && m_readEnd == READ_CLOSED) r.serverClosed = true;
    // A challenge after credentials went out refuses them; a first 401 that
    // could not be answered at all says the same to an integrator.
    r.credentialsRefused = m_lastStatus == 401;
    if (r.credentialsRefused) {
        r.authScheme = m_parser.Response().authScheme;
        r.realm = m_parser.Response().realm;
    }
    return false;
}

bool CBaseRTSPClient::Describe() {
    if (Request(RTSP_DESCRIBE)) return true;
    const uint32_t status = m_result.statusCode;
    if (status != 301 && status != 302 && status != 303 && status != 307) return false;
    // Gateways and relays send the client elsewhere, sometimes to another
    // port; one hop per attempt, so a loop cannot hold the thread.
    std::string host, path;
    uint16_t port = 0;
    if (!RtspRedirectTarget(m_lastReply, host, port, path) || IsStopRequested()) return false;
    CloseSocket();
    m_settings.host = host;
    m_settings.port = port;
    m_settings.path = path;
    // A new server: its own CSeq count and its own challenge.
    ResetSession();
    if (!Connect()) {
        m_result.connectFailed = true;
        m_result.failedMethod = RTSP_DESCRIBE;
        return false;
    }
    return Request(RTSP_DESCRIBE);
}

bool CBaseRTSPClient::SetupOnce() {
    m_sessionInterleaved = m_transportMode == RTSP_TRANSPORT_INTERLEAVED;
    if (!Request(RTSP_SETUP)) return false;
    // The channels the answer names, not those asked for.
    if (m_transportMode == RTSP_TRANSPORT_INTERLEAVED) {
        m_rtpChannel = m_parser.Response().interleavedRtpChannel;
        m_rtcpChannel = m_parser.Response().interleavedRtcpChannel;
    }
    return true;
}

bool CBaseRTSPClient::Setup() {
    if (SetupOnce()) return true;
    if (IsStopRequested() || !RtspRefusesTransport(m_result.statusCode, m_result.reasonPhrase)) return false;
    // Some servers take only UDP, others only TCP: the other transport at
    // once, on the same connection, rather than a lost attempt.
    m_transportMode = m_transportMode == RTSP_TRANSPORT_INTERLEAVED ? RTSP_TRANSPORT_UDP : RTSP_TRANSPORT_INTERLEAVED;
    const RTSP_SESSION_RESULT refused = m_result;
    if (SetupOnce()) {
        m_result = RTSP_SESSION_RESULT();
        m_result.transportSwitched = true;
        return true;
    }
    if (RtspRefusesTransport(m_result.statusCode, m_result.reasonPhrase)) {
        m_result = refused;
        m_result.transportRefused = true;
    }
    return false;
}

bool CBaseRTSPClient::PlayInterleaved() {
    const std::string request = BuildRequest(RTSP_PLAY);
    if (request.empty() || !SendAll(request)) {
        m_result.failedMethod = RTSP_PLAY;
        m_result.serverClosed = true;
        return false;
    }
    m_awaitedMethod = RTSP_PLAY;
    m_playTick = GetTickCount64();
    m_played = true;
    m_result.played = true;
    // The session ends with the stream, the stop or a refused PLAY.
    return ReceiveInterleaved();
}

void CBaseRTSPClient::Teardown() {
    // Only a session the server granted is torn down, and its answer is
    // never waited for long: shutdown must not depend on it.
    if (m_parser.Response().session.empty()) return;
    if (m_transportMode == RTSP_TRANSPORT_INTERLEAVED) {
        if (m_socket == 0 || !SendAll(BuildRequest(RTSP_TEARDOWN))) return;
        // The answer comes behind whatever frames are on their way; a short
        // look for it lets the server see the request before the close.
        const ULONGLONG start = GetTickCount64();
        char buffer[READ_CHUNK];
        while (GetTickCount64() - start < ULONGLONG(std::min<int32_t>(std::max<int32_t>(m_readTimeoutMs, 0), 1000))) {
            if (WaitReadable(false) != WAIT_READY) return;
            const int n = recv(AsSocket(m_socket), buffer, static_cast<int>(sizeof buffer), 0);
            if (n <= 0 || std::string(buffer, size_t(n)).find("RTSP/") != std::string::npos) return;
        }
        return;
    }
    SendRequest(RTSP_TEARDOWN);
}

bool CBaseRTSPClient::KeepAliveDue() const {
    const int32_t announced = m_parser.Response().sessionTimeout;
    const int64_t intervalMs = int64_t(announced > 0 ? announced : m_settings.keepAliveIntervalS) * 1000;
    return m_keepAliveTime == 0 || int64_t(ElapsedMs(m_keepAliveTime)) > intervalMs / 2;
}

void CBaseRTSPClient::KeepAliveCheck() {
    if (!KeepAliveDue()) return;
    SendKeepAlive();
    m_keepAliveTime = CurrentTimeStamp();
}

void CBaseRTSPClient::SendKeepAlive() {
    const int method = m_keepAliveMethod;
    const bool publicKnownBefore = m_publicKnown;
    if (m_transportMode == RTSP_TRANSPORT_INTERLEAVED) {
        // The answer comes between the frames; one still missing when the
        // next keep-alive is due counts as a failure of its method.
        if (m_awaitedMethod == RTSP_OPTIONS || m_awaitedMethod == RTSP_GET_PARAMETER) KeepAliveFailed(0);
        const std::string request = BuildRequest(m_keepAliveMethod);
        if (!request.empty() && SendAll(request)) m_awaitedMethod = m_keepAliveMethod;
        return;
    }
    DiscardStaleInput();
    if (!SendRequest(method)) {
        KeepAliveFailed(m_lastStatus);
        return;
    }
    // Servers that count only GET_PARAMETER as activity say so in the
    // answer to the first OPTIONS: use it at once.
    if (method == RTSP_OPTIONS && !publicKnownBefore && m_getParameterListed) {
        m_keepAliveMethod = RTSP_GET_PARAMETER;
        if (!SendRequest(RTSP_GET_PARAMETER)) KeepAliveFailed(m_lastStatus);
    }
}

void CBaseRTSPClient::KeepAliveFailed(uint32_t status) {
    // A failed or unanswered keep-alive does not end a stream that still
    // delivers; the other method may be the one this server honours.
    if (status == 454) m_result.sessionExpired = true;
    if (status == 0 && m_readEnd == READ_CLOSED) m_result.serverClosed = true;
    m_keepAliveMethod = m_keepAliveMethod == RTSP_GET_PARAMETER ? RTSP_OPTIONS : RTSP_GET_PARAMETER;
    m_awaitedMethod = 0;
}

void CBaseRTSPClient::NotePublic(const std::string& reply) {
    bool known = false;
    const bool listed = RtspPublicLists(reply, "GET_PARAMETER", known);
    if (!known) return;
    const bool first = !m_publicKnown;
    m_publicKnown = true;
    m_getParameterListed = listed;
    if (first) m_keepAliveMethod = listed ? RTSP_GET_PARAMETER : RTSP_OPTIONS;
}

void CBaseRTSPClient::DiscardStaleInput() {
    // A keep-alive answered after its wait ended must not be taken for the
    // answer to the next request.
    if (m_socket == 0) return;
    char buffer[1024];
    for (int i = 0; i < 64; ++i) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(AsSocket(m_socket), &readable);
        timeval none = {0, 0};
        if (select(0, &readable, nullptr, nullptr, &none) != 1) return;
        if (recv(AsSocket(m_socket), buffer, sizeof buffer, 0) <= 0) return;
    }
}

bool CBaseRTSPClient::SendRequest(int method) {
    if (method != RTSP_TEARDOWN && IsStopRequested()) return false;
    bool ok = Exchange(method);
    bool answeredChallenge = false;
    bool answeredRefusal = false;
    for (int round = 0; ok && m_parser.Response().statusCode == 401 && round < 2; ++round) {
        const int32_t offered = m_parser.Response().authScheme;
        if (offered == RTSP_AUTH_NONE) break;
        if (!m_sentCredentials) {
            // A challenge to a request without credentials: answered once.
            if (answeredChallenge) break;
            answeredChallenge = true;
        } else {
            // Credentials were refused: one more try only where the refusal
            // is not about the password.
            const bool retry = RetryAfterRefusal(m_authScheme, offered, m_challenge.stale,
                                                 m_challenge.nonce != m_sentNonce, m_credentialsAccepted);
            if (answeredRefusal || !retry) break;
            answeredRefusal = true;
        }
        m_authScheme = offered;
        ok = Exchange(method);
    }
    const bool accepted = ok && m_parser.Response().statusCode / 100 == 2;
    if (accepted && m_sentCredentials) m_credentialsAccepted = true;
    return accepted;
}

bool CBaseRTSPClient::Exchange(int method) {
    m_lastStatus = 0;
    m_lastReply.clear();
    m_readEnd = READ_COMPLETE;
    if (m_socket == 0) return false;
    const std::string request = BuildRequest(method);
    if (request.empty()) return false;
    if (!SendAll(request)) {
        m_readEnd = READ_CLOSED;
        return false;
    }
    std::string reply;
    // A stop abandons a reply still awaited, except that of TEARDOWN.
    if (!ReadReply(method != RTSP_TEARDOWN, reply) || reply.empty()) return false;
    m_lastReply = reply;
    m_lastStatus = RtspStatusCode(reply);
    NotePublic(reply);
    DIGEST_CHALLENGE challenge;
    if (FindDigestChallenge(reply, challenge)) {
        m_challenge = challenge;
        m_haveChallenge = true;
    }
    return m_parser.ParseResponse(reply, method);
}

bool CBaseRTSPClient::SendAll(const std::string& text) { return SendAll(text.data(), text.size()); }

bool CBaseRTSPClient::SendAll(const char* data, size_t length) {
    CLockGuard guard(m_sendLock);
    // A write cut short would leave the server the rest of a message that
    // another write then tears apart: what is left goes out first.
    while (length > 0) {
        const int sent = send(AsSocket(m_socket), data, static_cast<int>(std::min<size_t>(length, 65536)), 0);
        if (sent <= 0) return false;
        data += sent;
        length -= size_t(sent);
    }
    return true;
}

void CBaseRTSPClient::SendDueReport() {
    const std::vector<uint8_t> report = m_rtcpReporter.TakeDueReport(GetTickCount());
    // A report that cannot be written is let go like an unanswered
    // keep-alive: the stream's own data decides whether the session lives.
    if (!report.empty()) SendAll(reinterpret_cast<const char*>(report.data()), report.size());
}

std::string CBaseRTSPClient::LocalCname() {
    sockaddr_in local = {};
    int size = sizeof local;
    if (getsockname(AsSocket(m_socket), reinterpret_cast<sockaddr*>(&local), &size) != 0) return "zentavo";
    const uint32_t a = ntohl(local.sin_addr.s_addr);
    return FormatString("zentavo@%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

CBaseRTSPClient::WaitResult CBaseRTSPClient::WaitReadable(bool honourStop) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (honourStop && IsStopRequested()) return WAIT_STOPPED;
        const ULONGLONG elapsed = GetTickCount64() - start;
        const int32_t limit = m_readTimeoutMs;
        if (elapsed >= ULONGLONG(std::max(limit, 0))) return WAIT_TIMED_OUT;
        const unsigned slice = unsigned(std::min<ULONGLONG>(READ_SLICE_MS, ULONGLONG(limit) - elapsed));
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(AsSocket(m_socket), &readable);
        timeval wait = {0, long(slice) * 1000};
        const int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready < 0) return WAIT_ERROR;
        if (ready > 0) return WAIT_READY;
    }
}

bool CBaseRTSPClient::ReadReply(bool honourStop, std::string& text) {
    CRTSPReplyReader reader;
    char buffer[CRTSPReplyReader::HEAD_CHUNK];
    while (reader.GetState() == CRTSPReplyReader::READING) {
        const WaitResult wait = WaitReadable(honourStop);
        if (wait == WAIT_STOPPED) {
            m_readEnd = READ_STOPPED;
            return false;
        }
        if (wait != WAIT_READY) {
            m_readEnd = wait == WAIT_TIMED_OUT ? READ_TIMED_OUT : READ_CLOSED;
            reader.Finish();
            break;
        }
        const size_t want = std::min(sizeof buffer, reader.BytesWanted());
        const int n = recv(AsSocket(m_socket), buffer, static_cast<int>(want), 0);
        if (n <= 0) {
            m_readEnd = READ_CLOSED;
            reader.Finish();
            break;
        }
        reader.Append(buffer, static_cast<size_t>(n));
    }
    if (reader.GetState() != CRTSPReplyReader::COMPLETE) return false;
    text = reader.Text();
    return true;
}

bool CBaseRTSPClient::ReceiveInterleaved() {
    CRTSPStreamParser parser(m_rtpChannel, m_rtcpChannel, this);
    m_rtcpReporter.Restart(m_rtcpChannel, uint32_t(std::strtoul(NewCnonce().substr(0, 8).c_str(), nullptr, 16)),
                           LocalCname());
    static_assert(READ_CHUNK <= 65536, "one read");
    char buffer[READ_CHUNK];
    ULONGLONG lastData = GetTickCount64();
    for (;;) {
        if (IsStopRequested()) return false;
        // Keep-alives go out while the stream runs; their answers arrive
        // in the stream and reach OnRTSPReply.
        if (m_awaitedMethod != RTSP_PLAY) KeepAliveCheck();
        SendDueReport();
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(AsSocket(m_socket), &readable);
        timeval wait = {0, long(READ_SLICE_MS) * 1000};
        const int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready < 0) {
            m_result.serverClosed = true;
            return true;
        }
        if (ready == 0) {
            if (GetTickCount64() - lastData > ULONGLONG(std::max<int32_t>(m_settings.receiveTimeoutMs, 0))) return true;
            continue;
        }
        const int n = recv(AsSocket(m_socket), buffer, static_cast<int>(sizeof buffer), 0);
        if (n <= 0) {
            m_result.serverClosed = true;
            return true;
        }
        if (IsStopRequested()) return false;
        lastData = GetTickCount64();
        parser.ProcessData(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(n));
        if (m_result.failedMethod == RTSP_PLAY) return true;
    }
}

void CBaseRTSPClient::OnRTSPReply(const std::string& text) {
    const int method = m_awaitedMethod;
    if (method == 0) return;
    m_awaitedMethod = 0;
    const uint32_t status = RtspStatusCode(text);
    NotePublic(text);
    DIGEST_CHALLENGE challenge;
    if (FindDigestChallenge(text, challenge)) {
        m_challenge = challenge;
        m_haveChallenge = true;
    }
    m_parser.ParseResponse(text, method);
    if (status / 100 == 2) return;
    if (method == RTSP_PLAY) {
        m_lastStatus = status;
        m_lastReply = text;
        m_result.failedMethod = RTSP_PLAY;
        m_result.statusCode = status;
        m_result.reasonPhrase = RtspReasonPhrase(text);
        m_result.credentialsRefused = status == 401;
        if (status == 401) {
            m_result.authScheme = m_parser.Response().authScheme;
            m_result.realm = m_parser.Response().realm;
        }
        return;
    }
    KeepAliveFailed(status);
}

std::string CBaseRTSPClient::BaseUrl() const {
    const RTSP_RESPONSE& response = m_parser.Response();
    return BuildBaseUrl(response.contentBase, response.contentLocation, m_settings.host, m_settings.port,
                        m_settings.path);
}

std::string CBaseRTSPClient::NewCnonce() {
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    const std::string seed = FormatString("%p:%lu:%lld:%u", static_cast<void*>(this),
                                          static_cast<unsigned long>(GetCurrentThreadId()),
                                          static_cast<long long>(counter.QuadPart), ++m_cnonceSerial);
    return Md5Hex(seed).substr(0, 16);
}

std::string CBaseRTSPClient::AuthorizationLine(int method) {
    m_sentNonce.clear();
    m_sentCredentials = false;
    if (m_authScheme == RTSP_AUTH_BASIC) {
        m_sentCredentials = true;
        return BasicAuthorizationLine(m_settings.userName, m_settings.password);
    }
    if (m_authScheme != RTSP_AUTH_DIGEST) return std::string();
    const RTSP_RESPONSE& response = m_parser.Response();
    if (response.authScheme != RTSP_AUTH_DIGEST || response.realm.empty() || response.nonce.empty())
        return std::string();
    DIGEST_CHALLENGE challenge = m_challenge;
    if (!m_haveChallenge) {
        challenge.realm = response.realm;
        challenge.nonce = response.nonce;
    }
    if (challenge.nonce != m_countedNonce) {
        m_countedNonce = challenge.nonce;
        m_nonceCount = 0;
        m_cnonce = NewCnonce();
    }
    DIGEST_CREDENTIALS credentials;
    credentials.user = m_settings.userName;
    credentials.password = m_settings.password;
    credentials.method = RtspMethodName(method);
    // The base URL for every method, SETUP included: cameras of this family
    // check the answer against it.
    credentials.uri = BaseUrl();
    credentials.nonceCount = ++m_nonceCount;
    credentials.cnonce = m_cnonce;
    const std::string line = DigestAuthorizationLine(challenge, credentials);
    if (!line.empty()) {
        m_sentNonce = challenge.nonce;
        m_sentCredentials = true;
    }
    return line;
}

std::string CBaseRTSPClient::BuildRequest(int method) {
    if (RtspMethodName(method).empty()) return std::string();
    RTSP_REQUEST_PARTS parts;
    parts.baseUrl = BaseUrl();
    parts.cseq = m_parser.NextCSeq();
    parts.authorization = AuthorizationLine(method);
    parts.session = m_parser.Response().session;
    parts.range = m_settings.range;
    if (method == RTSP_SETUP) {
        const SDP_MEDIA* media = m_parser.Response().description.Media(m_settings.mediaIndex);
        const SDP_MEDIA none;
        parts.controlUrl = BuildControlUrl(parts.baseUrl, media != nullptr ? media->control : std::string());
        parts.transport = BuildTransportHeader(m_transportMode, m_multicast, media != nullptr ? *media : none,
                                               m_settings.clientRtpPort, m_settings.clientRtcpPort);
    }
    return FormatRequest(method, parts);
}

bool CBaseRTSPClient::CallOnDescribe() {
    if (m_user == nullptr) return true;
    try {
        return m_user->OnDescribe(m_parser.Response().description);
    } catch (...) {
        return false;
    }
}

void CBaseRTSPClient::CallOnSessionEnded() {
    if (m_user == nullptr) return;
    try {
        m_user->OnSessionEnded();
    } catch (...) {
    }
}

void CBaseRTSPClient::OnRTPPacket(CRTPPacket& packet) {
    // The packet keeps its SSRC as the bytes came.
    m_rtcpReporter.OnRtpPacket(packet.SequenceNumber(), packet.Timestamp(), ntohl(packet.Ssrc()), GetTickCount());
    if (m_user == nullptr) return;
    try {
        m_user->OnRTPPacket(packet);
    } catch (...) {
    }
}

void CBaseRTSPClient::OnRTCPSenderReport(const RTCP_SENDER_REPORT& report) {
    m_rtcpReporter.OnSenderReport(report, GetTickCount());
}

void CBaseRTSPClient::OnRTCPBye() {
    m_result.byeReceived = true;
    m_result.serverClosed = true;
    m_stopEvent.Set();
    if (m_user == nullptr) return;
    try {
        m_user->OnRTCPBye();
    } catch (...) {
    }
}

}  // namespace zentavo
