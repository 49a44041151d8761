#include "support/ScriptedHttpServer.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace halvencap_test {

namespace {

class WinsockScope {
public:
    WinsockScope() {
        WSADATA data;
        m_ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockScope() {
        if (m_ok)
            WSACleanup();
    }

private:
    bool m_ok = false;
};

WinsockScope& Winsock() {
    static WinsockScope scope;
    return scope;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string TrimBlanks(const std::string& s) {
    size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    size_t end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

bool SendAll(SOCKET s, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        int chunk = static_cast<int>(std::min<size_t>(data.size() - sent, 65536));
        int n = send(s, data.data() + sent, chunk, 0);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

struct ScriptedHttpServer::Connection {
    SOCKET socket = INVALID_SOCKET;
    bool closed = false;  // guarded by the server's mutex
};

ScriptedAnswer ScriptedAnswer::Ok(const std::string& body) {
    ScriptedAnswer answer;
    answer.body = body;
    return answer;
}

ScriptedAnswer ScriptedAnswer::Status(int status, const std::string& reason) {
    ScriptedAnswer answer;
    answer.status = status;
    answer.reason = reason;
    return answer;
}

ScriptedAnswer ScriptedAnswer::Hang() {
    ScriptedAnswer answer;
    answer.kind = Kind::Hang;
    return answer;
}

ScriptedAnswer ScriptedAnswer::Close() {
    ScriptedAnswer answer;
    answer.kind = Kind::Close;
    return answer;
}

ScriptedAnswer ScriptedAnswer::Raw(const std::string& bytes) {
    ScriptedAnswer answer;
    answer.kind = Kind::Raw;
    answer.body = bytes;
    return answer;
}

ScriptedHttpServer::ScriptedHttpServer() : m_listener(INVALID_SOCKET) {
    Winsock();
    m_default = ScriptedAnswer::Ok("default");
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        return;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(listener);
        return;
    }
    m_listener = listener;
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        for (auto& connection : m_connections) {
            if (!connection->closed)
                shutdown(connection->socket, SD_BOTH);
        }
    }
    m_changed.notify_all();
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    for (auto& worker : m_workers) {
        if (worker.joinable())
            worker.join();
    }
    if (m_listener != INVALID_SOCKET)
        closesocket(static_cast<SOCKET>(m_listener));
}

void ScriptedHttpServer::AcceptLoop() {
    const SOCKET listener = static_cast<SOCKET>(m_listener);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener, &readable);
        timeval wait = {0, 50 * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        auto connection = std::make_shared<Connection>();
        connection->socket = client;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) {
            closesocket(client);
            return;
        }
        m_connections.push_back(connection);
        m_workers.emplace_back([this, connection] { Serve(connection); });
    }
}

void ScriptedHttpServer::Serve(std::shared_ptr<Connection> connection) {
    const SOCKET s = connection->socket;
    std::string buffer;
    char chunk[4096];
    size_t headEnd = std::string::npos;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        int n = recv(s, chunk, sizeof(chunk), 0);
        if (n <= 0)
            break;
        buffer.append(chunk, static_cast<size_t>(n));
    }
    if (headEnd != std::string::npos) {
        const std::string head = buffer.substr(0, headEnd + 4);
        const size_t bodyLength =
            static_cast<size_t>(std::strtoul(HeaderValue(head, "Content-Length").c_str(), nullptr, 10));
        while (buffer.size() < head.size() + bodyLength) {
            int n = recv(s, chunk, sizeof(chunk), 0);
            if (n <= 0)
                break;
            buffer.append(chunk, static_cast<size_t>(n));
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(buffer.substr(0, head.size() + bodyLength));
        }
        m_changed.notify_all();

        const ScriptedAnswer answer = NextAnswer();
        switch (answer.kind) {
        case ScriptedAnswer::Kind::Hang:
            WaitForRelease();
            break;
        case ScriptedAnswer::Kind::Close:
            break;
        case ScriptedAnswer::Kind::Raw:
            SendAll(s, answer.body);
            break;
        case ScriptedAnswer::Kind::Respond: {
            std::string text = "HTTP/1.1 " + std::to_string(answer.status) + " " + answer.reason + "\r\n";
            for (const std::string& header : answer.headers)
                text += header + "\r\n";
            if (answer.announcedLength >= 0)
                text += "Content-Length: " + std::to_string(answer.announcedLength) + "\r\n";
            else if (answer.announceLength)
                text += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
            text += "Connection: close\r\n\r\n";
            text += answer.body;
            if (SendAll(s, text) && answer.stallAfterBody)
                WaitForRelease();
            break;
        }
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    shutdown(s, SD_SEND);
    closesocket(s);
    connection->closed = true;
}

ScriptedAnswer ScriptedHttpServer::NextAnswer() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_script.empty())
        return m_default;
    ScriptedAnswer answer = m_script.front();
    m_script.pop_front();
    return answer;
}

void ScriptedHttpServer::WaitForRelease() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_stopping || m_released; });
}

void ScriptedHttpServer::Push(const ScriptedAnswer& answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script.push_back(answer);
}

void ScriptedHttpServer::SetDefault(const ScriptedAnswer& answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_default = answer;
}

void ScriptedHttpServer::ReleaseHangs() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
    }
    m_changed.notify_all();
}

std::vector<std::string> ScriptedHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

size_t ScriptedHttpServer::RequestCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.size();
}

bool ScriptedHttpServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

std::string ScriptedHttpServer::HeaderValue(const std::string& rawRequest, const std::string& name) {
    const std::string wanted = Lower(name);
    size_t lineStart = rawRequest.find("\r\n");
    while (lineStart != std::string::npos) {
        lineStart += 2;
        size_t lineEnd = rawRequest.find("\r\n", lineStart);
        if (lineEnd == std::string::npos || lineEnd == lineStart)
            break;  // end of the head
        const std::string line = rawRequest.substr(lineStart, lineEnd - lineStart);
        const size_t colon = line.find(':');
        if (colon != std::string::npos && Lower(TrimBlanks(line.substr(0, colon))) == wanted)
            return TrimBlanks(line.substr(colon + 1));
        lineStart = lineEnd;
    }
    return std::string();
}

bool ScriptedHttpServer::HasHeader(const std::string& rawRequest, const std::string& name) {
    const std::string wanted = Lower(name) + ":";
    const std::string head = Lower(rawRequest.substr(0, rawRequest.find("\r\n\r\n")));
    return head.find("\r\n" + wanted) != std::string::npos;
}

std::string ScriptedHttpServer::RequestLine(const std::string& rawRequest) {
    return rawRequest.substr(0, rawRequest.find("\r\n"));
}

uint16_t ScriptedHttpServer::ClosedPort() {
    Winsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return 0;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    uint16_t port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    closesocket(s);
    return port;
}

}  // namespace halvencap_test
