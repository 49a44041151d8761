#include "web/HttpSender.h"

#include <algorithm>
#include <vector>

namespace Web {

namespace {

const wchar_t* const kUserAgent = L"Zentavo::HttpSender";
const DWORD kMaxConnectionsPerServer = 16;
const DWORD kIgnoreCertificateErrors = SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                                       SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                                       SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                       SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
// One ReadSome call never asks for more than the unannounced-body limit.
const unsigned kReadSomeLimit = CHttpSender::kUnannouncedBodyLimit;

std::wstring Widen(const std::string& text) {
    if (text.empty())
        return std::wstring();
    int count = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
    if (count <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], count);
    return wide;
}

bool SetDword(HINTERNET handle, DWORD option, DWORD value) {
    return WinHttpSetOption(handle, option, &value, sizeof(value)) != FALSE;
}

uint32_t QueryNumber(HINTERNET request, DWORD query) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!WinHttpQueryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return 0;
    return value;
}

}  // namespace

CHttpSender::CHttpSender(const zentavo::DEVICE_INFO& device, zentavo::IDebugMessage* logger)
    : CBaseHttpSender(device), m_waiter(logger), m_pump(logger) {
    OpenSession();
}

CHttpSender::~CHttpSender() {
    CloseRequest();
}

void CHttpSender::OpenSession() {
    m_session.Reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0));
    if (!m_session)
        return;
    const DWORD timeout = m_deviceInfo.requestTimeoutMs;
    const DWORD settings[][2] = {
        {WINHTTP_OPTION_RECEIVE_TIMEOUT, timeout},
        {WINHTTP_OPTION_RESOLVE_TIMEOUT, timeout},
        {WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, timeout},
        {WINHTTP_OPTION_SEND_TIMEOUT, timeout},
        {WINHTTP_OPTION_CONNECT_TIMEOUT, timeout},
        {WINHTTP_OPTION_MAX_CONNS_PER_SERVER, kMaxConnectionsPerServer},
        {WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER, kMaxConnectionsPerServer},
    };
    for (const auto& setting : settings) {
        if (!SetDword(m_session.Get(), setting[0], setting[1]))
            break;
    }
}

bool CHttpSender::Connect() {
    if (m_connection)
        return true;
    if (!m_session)
        return false;
    m_connection.Reset(WinHttpConnect(m_session.Get(), Widen(m_deviceInfo.address).c_str(),
                                      m_deviceInfo.port, 0));
    return static_cast<bool>(m_connection);
}

uint32_t CHttpSender::ChooseAuthScheme(int32_t authHint) const {
    if (m_authScheme != 0)
        return m_authScheme;
    if (authHint & AUTH_HINT_NEGOTIATE)
        return WINHTTP_AUTH_SCHEME_NEGOTIATE;
    if ((authHint & AUTH_HINT_DIGEST) == AUTH_HINT_DIGEST)
        return WINHTTP_AUTH_SCHEME_DIGEST;
    if (authHint & AUTH_HINT_PASSPORT)
        return WINHTTP_AUTH_SCHEME_PASSPORT;
    if (authHint & AUTH_HINT_NTLM)
        return WINHTTP_AUTH_SCHEME_NTLM;
    return WINHTTP_AUTH_SCHEME_BASIC;
}

bool CHttpSender::PrepareRequest(HINTERNET request, const HTTP_REQUEST& description,
                                 uint32_t scheme) {
    if (!m_deviceInfo.userName.empty() && description.authHint != AUTH_HINT_NO_CREDENTIALS) {
        if (!WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_SERVER, scheme,
                                   Widen(m_deviceInfo.userName).c_str(),
                                   Widen(m_deviceInfo.password).c_str(), nullptr))
            return false;
    }
    if (description.scheme == HTTP_SCHEME_SECURE &&
        (description.options & HTTP_OPT_IGNORE_CERT_ERRORS)) {
        if (!SetDword(request, WINHTTP_OPTION_SECURITY_FLAGS, kIgnoreCertificateErrors))
            return false;
    }
    if (description.options & HTTP_OPT_NO_KEEP_ALIVE)
        SetDword(request, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_KEEP_ALIVE);
    for (const std::string& header : description.headers) {
        if (!WinHttpAddRequestHeaders(request, Widen(header).c_str(), static_cast<DWORD>(-1),
                                      WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
            return false;
    }
    return true;
}

void CHttpSender::ReadResponseNumbers(HINTERNET request) {
    m_statusCode = QueryNumber(request, WINHTTP_QUERY_STATUS_CODE);
    m_contentLength = QueryNumber(request, WINHTTP_QUERY_CONTENT_LENGTH);
}

bool CHttpSender::SendRequest(const HTTP_REQUEST& description) {
    CloseRequest();
    m_waiter.Rearm();
    m_pump.Rearm();
    m_knownAvailable = 0;
    m_statusCode = 0;
    m_contentLength = 0;
    if (!Connect())
        return false;

    DWORD flags = WINHTTP_FLAG_REFRESH;
    if (description.options & HTTP_OPT_NO_QUERY_ESCAPE)
        flags |= WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
    if (description.scheme == HTTP_SCHEME_SECURE)
        flags |= WINHTTP_FLAG_SECURE;
    HINTERNET request = WinHttpOpenRequest(m_connection.Get(), Widen(description.verb).c_str(),
                                           Widen(description.objectName).c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           flags);
    if (request == nullptr)
        return false;
    m_request.store(request);

    const uint32_t scheme = ChooseAuthScheme(description.authHint);
    if (!PrepareRequest(request, description, scheme)) {
        CloseRequest();
        return false;
    }

    const DWORD bodySize = static_cast<DWORD>(description.body.size());
    const DWORD total = std::max<DWORD>(bodySize, description.totalLength);
    LPVOID data = description.body.empty()
                      ? WINHTTP_NO_REQUEST_DATA
                      : const_cast<uint8_t*>(description.body.data());
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, bodySize, total, 0)) {
        CloseRequest();
        return false;
    }
    if (bodySize < description.totalLength || (description.options & HTTP_OPT_NO_RESPONSE_WAIT))
        return true;

    if (!WinHttpReceiveResponse(request, nullptr)) {
        CloseRequest();
        return false;
    }
    ReadResponseNumbers(request);

    if (m_statusCode == HTTP_STATUS_DENIED && m_authScheme == 0) {
        DWORD supported = 0;
        DWORD first = 0;
        DWORD target = 0;
        const bool queried = WinHttpQueryAuthSchemes(request, &supported, &first, &target) != FALSE;
        m_authScheme = queried ? first : 0;
        CloseRequest();
        // The learned scheme makes the retry take the other branch, so this
        // recursion is one level deep at most.
        if (queried && m_authScheme != 0 && m_authScheme != scheme)
            return SendRequest(description);
        return false;
    }
    return true;
}

void CHttpSender::CloseRequest() {
    HINTERNET request = m_request.exchange(nullptr);
    if (request != nullptr) {
        if (m_pump.Cancel(request))
            WinHttpCloseHandle(request);
        m_waiter.Cancel();
    }
}

uint32_t CHttpSender::GetAvailableBytes() {
    HINTERNET request = m_request.load();
    if (request == nullptr)
        return 0;
    if (m_knownAvailable == 0) m_knownAvailable = m_waiter.WaitForData(request);
    return m_knownAvailable;
}

uint32_t CHttpSender::ReadBody(ByteArray& out) {
    out.clear();
    if (m_request.load() == nullptr)
        return 0;
    uint32_t remaining = m_contentLength != 0 ? m_contentLength : kUnannouncedBodyLimit;
    uint8_t buffer[kReadStep];
    DWORD got = 1;
    while (got > 0 && remaining > 0) {
        HINTERNET request = m_request.load();
        if (request == nullptr)
            break;  // closed from another thread
        // A time-out or any other failure ends the body with what has
        // arrived; the caller sees a short body.
        got = ReadAvailable(request, buffer, std::min<DWORD>(remaining, kReadStep));
        out.insert(out.end(), buffer, buffer + got);
        remaining -= got;
    }
    return static_cast<uint32_t>(out.size());
}

uint32_t CHttpSender::ReadSome(ByteArray& out, unsigned maxBytes, bool clearFirst) {
    if (clearFirst)
        out.clear();
    HINTERNET request = m_request.load();
    if (request == nullptr || maxBytes == 0)
        return 0;
    // Read straight into the caller's buffer: a stream reader calls this for
    // every piece of the body.
    const size_t before = out.size();
    out.resize(before + std::min<unsigned>(maxBytes, kReadSomeLimit));
    const DWORD got = ReadAvailable(request, out.data() + before, static_cast<DWORD>(out.size() - before));
    out.resize(before + got);
    return got;
}

uint32_t CHttpSender::ReadStream(ByteArray& out) {
    return m_pump.Take(m_request.load(), out);
}

bool CHttpSender::ReadStreamInto(IStreamSink& sink) {
    return m_pump.Drive(m_request.load(), sink);
}

DWORD CHttpSender::ReadAvailable(HINTERNET request, uint8_t* buffer, DWORD capacity) {
    // Waiting for data first and then asking only for what is there keeps
    // every WinHTTP implementation from holding the read until the whole
    // buffer is filled, which a paced stream may never do.
    if (m_knownAvailable == 0) m_knownAvailable = m_waiter.WaitForData(request);
    if (m_knownAvailable == 0)
        return 0;
    const DWORD want = std::min(m_knownAvailable, capacity);
    DWORD got = 0;
    if (!WinHttpReadData(request, buffer, want, &got)) {
        m_knownAvailable = 0;
        return 0;
    }
    got = std::min(got, want);
    m_knownAvailable -= got;
    return got;
}

}  // namespace Web
