#include "support/RtspServer.h"

#include <cstdlib>
#include <thread>
#include <utility>

namespace halvencap_test {

namespace {

const auto kPoll = std::chrono::milliseconds(50);

std::vector<std::string> Lines(const std::string& body) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos) end = body.size();
        if (end > start) lines.push_back(body.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

long Field(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    if (at == std::string::npos) return -1;
    return std::strtol(text.c_str() + at + key.size() + 1, nullptr, 10);
}

std::optional<ControlAddress> AddressFrom(const char* variable) {
    const char* text = std::getenv(variable);
    if (text == nullptr) return std::nullopt;
    const std::string value(text);
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    const long port = std::strtol(value.c_str() + colon + 1, nullptr, 10);
    if (port <= 0 || port > 65535) return std::nullopt;
    return ControlAddress{value.substr(0, colon), static_cast<uint16_t>(port)};
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    return out;
}

}  // namespace

RtspServer::RtspServer(ControlAddress control, int id_, uint16_t port_)
    : id(id_), port(port_), m_control(std::move(control)) {}

RtspServer::RtspServer(RtspServer&& other) noexcept
    : id(std::exchange(other.id, 0)), port(other.port), m_control(std::move(other.m_control)) {}

RtspServer::~RtspServer() {
    if (id > 0) Command("delete");
}

bool RtspServer::Available() { return AddressFrom("HALVENCAP_RTSPSRV").has_value(); }

std::optional<RtspServer> RtspServer::Create(const std::string& query) {
    const auto control = AddressFrom("HALVENCAP_RTSPSRV");
    if (!control) return std::nullopt;
    const HttpReply reply = HttpGet(control->host, control->port, query.empty() ? "/new" : "/new?" + query);
    if (reply.status != 200) return std::nullopt;
    const long id = Field(reply.body, "id");
    const long port = Field(reply.body, "port");
    if (id <= 0 || port <= 0 || port > 65535) return std::nullopt;
    return RtspServer(*control, static_cast<int>(id), static_cast<uint16_t>(port));
}

bool RtspServer::Command(const std::string& command) const {
    return HttpGet(m_control.host, m_control.port, "/servers/" + std::to_string(id) + "/" + command).status == 200;
}

std::vector<std::string> RtspServer::Log() const {
    const HttpReply reply = HttpGet(m_control.host, m_control.port, "/servers/" + std::to_string(id) + "/log");
    return reply.status == 200 ? Lines(reply.body) : std::vector<std::string>();
}

bool RtspServer::WaitForLog(const std::string& needle, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        for (const std::string& line : Log())
            if (line.find(needle) != std::string::npos) return true;
        std::this_thread::sleep_for(kPoll);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

bool RtspServer::ClearLog() const { return Command("log/clear"); }
bool RtspServer::Kill() const { return Command("stop"); }
bool RtspServer::Listen() const { return Command("start"); }

CamSimRtsp::CamSimRtsp(const CamSim& sim, const Camera& camera) : m_control(sim.Control()), m_id(camera.id) {}

std::string CamSimRtsp::Target(const std::string& command) const {
    return "/cameras/" + std::to_string(m_id) + "/rtsp" + command;
}

uint16_t CamSimRtsp::Start() {
    const HttpReply reply = HttpGet(m_control.host, m_control.port, Target(""));
    const long value = reply.status == 200 ? Field(reply.body, "port") : -1;
    port = value > 0 && value <= 65535 ? static_cast<uint16_t>(value) : 0;
    return port;
}

bool CamSimRtsp::Set(const std::string& query) const {
    return HttpGet(m_control.host, m_control.port, Target("/set?" + query)).status == 200;
}

long CamSimRtsp::RtcpFrames() const {
    const HttpReply reply = HttpGet(m_control.host, m_control.port, Target(""));
    return reply.status == 200 ? Field(reply.body, "rtcp_frames") : -1;
}

std::string CamSimRtsp::LastRtcpFrame() const {
    const HttpReply reply = HttpGet(m_control.host, m_control.port, Target(""));
    const size_t at = reply.body.find("rtcp_last=");
    if (reply.status != 200 || at == std::string::npos) return std::string();
    const size_t start = at + 10;
    return reply.body.substr(start, reply.body.find('\n', start) - start);
}

bool CamSimRtsp::ClearLog() const { return HttpGet(m_control.host, m_control.port, Target("/log/clear")).status == 200; }

std::vector<RtspLogEntry> CamSimRtsp::Log() const {
    std::vector<RtspLogEntry> entries;
    const HttpReply reply = HttpGet(m_control.host, m_control.port, Target("/log"));
    if (reply.status != 200) return entries;
    for (const std::string& line : Lines(reply.body)) {
        const size_t first = line.find(' ');
        const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second == std::string::npos) continue;
        RtspLogEntry entry;
        entry.timeMs = std::strtoull(line.c_str(), nullptr, 10);
        entry.status = std::atoi(line.c_str() + first + 1);
        entry.text = Unescape(line.substr(second + 1));
        entries.push_back(entry);
    }
    return entries;
}

std::vector<RtspLogEntry> CamSimRtsp::WaitForLog(
    const std::function<bool(const std::vector<RtspLogEntry>&)>& done, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<RtspLogEntry> log;
    do {
        log = Log();
        if (done(log)) return log;
        std::this_thread::sleep_for(kPoll);
    } while (std::chrono::steady_clock::now() < deadline);
    return log;
}

std::string MethodOf(const std::string& request) { return request.substr(0, request.find(' ')); }

std::vector<std::string> Methods(const std::vector<RtspLogEntry>& log) {
    std::vector<std::string> methods;
    for (const RtspLogEntry& e : log) methods.push_back(MethodOf(e.text));
    return methods;
}

}  // namespace halvencap_test
