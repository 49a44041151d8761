#include "support/CamSim.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace halvencap_test {

namespace {

constexpr DWORD kSocketTimeoutMs = 30000;
constexpr size_t kMaxReply = 16 * 1024 * 1024;

void StartWinsock()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

class Socket {
public:
    Socket() : m_socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
    ~Socket()
    {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool Valid() const { return m_socket != INVALID_SOCKET; }
    SOCKET Get() const { return m_socket; }

private:
    SOCKET m_socket;
};

bool MakeAddress(const std::string& host, uint16_t port, sockaddr_in& address)
{
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    return inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1;
}

bool SendAll(SOCKET s, const std::string& text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        int n = send(s, text.data() + sent, static_cast<int>(text.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// "HTTP/1.x NNN reason" -> NNN, or 0.
int StatusOf(const std::string& reply)
{
    if (reply.compare(0, 5, "HTTP/") != 0)
        return 0;
    size_t space = reply.find(' ');
    if (space == std::string::npos || space + 4 > reply.size())
        return 0;
    int status = 0;
    for (size_t i = space + 1; i < space + 4; ++i) {
        char c = reply[i];
        if (c < '0' || c > '9')
            return 0;
        status = status * 10 + (c - '0');
    }
    return status;
}

std::vector<std::string> Lines(const std::string& body)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        std::string line = body.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Reads "<key>=<digits>" out of a "id=1 port=2" reply; -1 when absent.
long FieldOf(const std::string& text, const std::string& key)
{
    size_t at = 0;
    while ((at = text.find(key + "=", at)) != std::string::npos) {
        if (at == 0 || text[at - 1] == ' ' || text[at - 1] == '\n') {
            size_t p = at + key.size() + 1;
            long value = 0;
            size_t digits = 0;
            while (p < text.size() && text[p] >= '0' && text[p] <= '9' && digits < 9) {
                value = value * 10 + (text[p] - '0');
                ++p;
                ++digits;
            }
            return digits ? value : -1;
        }
        at += key.size();
    }
    return -1;
}

}  // namespace

HttpReply HttpGet(const std::string& host, uint16_t port, const std::string& target)
{
    StartWinsock();
    HttpReply reply;
    sockaddr_in address;
    if (!MakeAddress(host, port, address))
        return reply;
    Socket s;
    if (!s.Valid())
        return reply;
    DWORD timeout = kSocketTimeoutMs;
    setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    setsockopt(s.Get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    if (connect(s.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return reply;
    std::string request = "GET " + target + " HTTP/1.0\r\nHost: " + host + ":" + std::to_string(port) +
                          "\r\nConnection: close\r\n\r\n";
    if (!SendAll(s.Get(), request))
        return reply;
    std::string raw;
    char buffer[8192];
    for (;;) {
        int n = recv(s.Get(), buffer, sizeof buffer, 0);
        if (n < 0)
            return reply;  // time-out or reset: no trustworthy answer
        if (n == 0)
            break;
        raw.append(buffer, static_cast<size_t>(n));
        if (raw.size() > kMaxReply)
            return reply;
    }
    size_t headerEnd = raw.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        return reply;
    reply.status = StatusOf(raw);
    reply.body = raw.substr(headerEnd + 4);
    return reply;
}

uint16_t ClosedPort()
{
    StartWinsock();
    Socket s;
    sockaddr_in address;
    if (!s.Valid() || !MakeAddress("127.0.0.1", 0, address))
        return 0;
    if (bind(s.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return 0;
    int length = sizeof address;
    if (getsockname(s.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    // Bound but never listening; closing it leaves the port free and refusing.
    return ntohs(address.sin_port);
}

Camera::Camera(ControlAddress control, int id_, uint16_t port_) : id(id_), port(port_), m_control(std::move(control)) {}

Camera::Camera(Camera&& other) noexcept
    : id(std::exchange(other.id, 0)), port(std::exchange(other.port, 0)), m_control(std::move(other.m_control))
{
}

Camera& Camera::operator=(Camera&& other) noexcept
{
    if (this != &other) {
        if (id > 0)
            Command("delete", "");
        id = std::exchange(other.id, 0);
        port = std::exchange(other.port, 0);
        m_control = std::move(other.m_control);
    }
    return *this;
}

Camera::~Camera()
{
    if (id > 0)
        Command("delete", "");
}

bool Camera::Command(const std::string& command, const std::string& query) const
{
    std::string target = "/cameras/" + std::to_string(id) + "/" + command;
    if (!query.empty())
        target += "?" + query;
    return HttpGet(m_control.host, m_control.port, target).status == 200;
}

std::vector<std::string> Camera::Log() const
{
    HttpReply reply = HttpGet(m_control.host, m_control.port, "/cameras/" + std::to_string(id) + "/log");
    if (reply.status != 200)
        return {};
    return Lines(reply.body);
}

bool Camera::ClearLog() const { return Command("log/clear", ""); }
bool Camera::Set(const std::string& query) const { return Command("set", query); }
bool Camera::Param(const std::string& query) const { return Command("param", query); }
bool Camera::Entries(const std::string& query) const { return Command("entries", query); }
bool Camera::Range(const std::string& query) const { return Command("range", query); }
bool Camera::Forget(const std::string& query) const { return Command("forget", query); }

std::map<std::string, std::string> Camera::Params() const
{
    std::map<std::string, std::string> values;
    HttpReply reply = HttpGet(m_control.host, m_control.port, "/cameras/" + std::to_string(id) + "/params");
    if (reply.status != 200)
        return values;
    for (const std::string& line : Lines(reply.body)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

CamSim::CamSim()
{
    const char* text = std::getenv("HALVENCAP_CAMSIM");
    if (!text)
        return;
    std::string value(text);
    size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon + 1 >= value.size() || value.size() - colon > 6)
        return;
    unsigned long port = 0;
    for (size_t i = colon + 1; i < value.size(); ++i) {
        if (value[i] < '0' || value[i] > '9')
            return;
        port = port * 10 + static_cast<unsigned long>(value[i] - '0');
    }
    sockaddr_in check;
    std::string host = value.substr(0, colon);
    if (port == 0 || port > 65535 || !MakeAddress(host, static_cast<uint16_t>(port), check))
        return;
    m_control.host = host;
    m_control.port = static_cast<uint16_t>(port);
}

bool CamSim::Available() { return CamSim().Valid(); }

HttpReply CamSim::Get(const std::string& target) const
{
    if (!Valid())
        return {};
    return HttpGet(m_control.host, m_control.port, target);
}

std::optional<Camera> CamSim::NewCamera(const std::string& query) const
{
    HttpReply reply = Get(query.empty() ? "/new" : "/new?" + query);
    if (reply.status != 200)
        return std::nullopt;
    long id = FieldOf(reply.body, "id");
    long port = FieldOf(reply.body, "port");
    if (id <= 0 || port <= 0 || port > 65535)
        return std::nullopt;
    return Camera(m_control, static_cast<int>(id), static_cast<uint16_t>(port));
}

}  // namespace halvencap_test
