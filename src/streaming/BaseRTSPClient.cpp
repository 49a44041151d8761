#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include "streaming/BaseRTSPClient.h"

#include <algorithm>

#include "runtime/TextUtils.h"
#include "runtime/Time.h"

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
    const std::string device = m_driver != nullptr ? m_driver->GetDeviceName() : std::string();
    if (!Connect() || !StartThread(FormatString("RTSP Client Thread (%s)", device.c_str()))) {
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
    if (SendRequest(RTSP_DESCRIBE)) {
        if (CallOnDescribe() && SendRequest(RTSP_SETUP)) {
            if (!m_paused) m_playEvent.Set();
            CEvent* const events[] = {&m_stopEvent, &m_pauseEvent, &m_playEvent};
            for (;;) {
                const unsigned which = WaitAny(events, 3, SESSION_TICK_MS);
                if (which == 0) break;
                if (which == 1) {
                    if (SendRequest(RTSP_PAUSE)) m_paused = true;
                } else if (which == 2) {
                    m_paused = false;
                    if (SendRequest(RTSP_PLAY)) m_played = true;
                } else {
                    KeepAliveCheck();
                }
            }
        }
        SendRequest(RTSP_TEARDOWN);
    }
    CallOnSessionEnded();
}

void CBaseRTSPClient::KeepAliveCheck() {
    const int32_t announced = m_parser.Response().sessionTimeout;
    const int64_t intervalMs = int64_t(announced != 0 ? announced : m_settings.keepAliveIntervalS) * 1000;
    if (m_keepAliveTime == 0 || int64_t(ElapsedMs(m_keepAliveTime)) > intervalMs / 2) {
        SendRequest(RTSP_OPTIONS);
        m_keepAliveTime = CurrentTimeStamp();
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
    if (m_socket == 0) return false;
    const std::string request = BuildRequest(method);
    if (request.empty() || !SendAll(request)) return false;
    if (method == RTSP_PLAY && m_transportMode == RTSP_TRANSPORT_INTERLEAVED) {
        m_played = true;
        return ReceiveInterleaved();
    }
    std::string reply;
    // A stop abandons a reply still awaited, except that of TEARDOWN.
    if (!ReadReply(method != RTSP_TEARDOWN, reply) || reply.empty()) return false;
    DIGEST_CHALLENGE challenge;
    if (FindDigestChallenge(reply, challenge)) {
        m_challenge = challenge;
        m_haveChallenge = true;
    }
    return m_parser.ParseResponse(reply, method);
}

bool CBaseRTSPClient::SendAll(const std::string& text) {
    const int sent = send(AsSocket(m_socket), text.data(), static_cast<int>(text.size()), 0);
    return sent == static_cast<int>(text.size());
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
        if (wait == WAIT_STOPPED) return false;
        if (wait != WAIT_READY) {
            reader.Finish();
            break;
        }
        const size_t want = std::min(sizeof buffer, reader.BytesWanted());
        const int n = recv(AsSocket(m_socket), buffer, static_cast<int>(want), 0);
        if (n <= 0) {
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
    CRTSPStreamParser parser(m_parser.Response().interleavedChannel, this);
    static_assert(READ_CHUNK <= 65536, "one read");
    char buffer[READ_CHUNK];
    for (;;) {
        const WaitResult wait = WaitReadable(true);
        if (wait == WAIT_STOPPED) return false;
        if (wait != WAIT_READY) return true;
        const int n = recv(AsSocket(m_socket), buffer, static_cast<int>(sizeof buffer), 0);
        if (n <= 0) return true;
        if (IsStopRequested()) return false;
        parser.ProcessData(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(n));
    }
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
    if (m_user == nullptr) return;
    try {
        m_user->OnRTPPacket(packet);
    } catch (...) {
    }
}

void CBaseRTSPClient::OnRTCPBye() {
    m_stopEvent.Set();
    if (m_user == nullptr) return;
    try {
        m_user->OnRTCPBye();
    } catch (...) {
    }
}

}  // namespace zentavo
