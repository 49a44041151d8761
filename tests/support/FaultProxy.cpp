#include "support/FaultProxy.h"

#include <cstdlib>
#include <utility>

namespace halvencap_test {

namespace {

std::optional<ControlAddress> ControlFromEnvironment() {
    const char* text = std::getenv("HALVENCAP_FAULTPROXY");
    if (text == nullptr) return std::nullopt;
    const std::string value(text);
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    const long port = std::strtol(value.c_str() + colon + 1, nullptr, 10);
    if (port <= 0 || port > 65535) return std::nullopt;
    return ControlAddress{value.substr(0, colon), static_cast<uint16_t>(port)};
}

long Field(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    if (at == std::string::npos) return -1;
    return std::strtol(text.c_str() + at + key.size() + 1, nullptr, 10);
}

}  // namespace

FaultProxy::FaultProxy(ControlAddress control, int id_, uint16_t port_)
    : id(id_), port(port_), m_control(std::move(control)) {}

FaultProxy::FaultProxy(FaultProxy&& other) noexcept
    : id(std::exchange(other.id, 0)), port(other.port), m_control(std::move(other.m_control)) {}

FaultProxy::~FaultProxy() {
    if (id > 0) HttpGet(m_control.host, m_control.port, "/proxies/" + std::to_string(id) + "/delete");
}

bool FaultProxy::Available() { return ControlFromEnvironment().has_value(); }

std::optional<FaultProxy> FaultProxy::Create(uint16_t serverPort, const std::string& query) {
    const auto control = ControlFromEnvironment();
    if (!control) return std::nullopt;
    std::string target = "/new?target=127.0.0.1:" + std::to_string(serverPort);
    if (!query.empty()) target += "&" + query;
    const HttpReply reply = HttpGet(control->host, control->port, target);
    if (reply.status != 200) return std::nullopt;
    const long id = Field(reply.body, "id");
    const long port = Field(reply.body, "port");
    if (id <= 0 || port <= 0 || port > 65535) return std::nullopt;
    return FaultProxy(*control, static_cast<int>(id), static_cast<uint16_t>(port));
}

bool FaultProxy::Set(const std::string& query) const {
    return HttpGet(m_control.host, m_control.port, "/proxies/" + std::to_string(id) + "/set?" + query).status == 200;
}

bool FaultProxy::DropConnections() const {
    return HttpGet(m_control.host, m_control.port, "/proxies/" + std::to_string(id) + "/drop").status == 200;
}

std::map<std::string, long> FaultProxy::Counters() const {
    std::map<std::string, long> counters;
    const HttpReply reply = HttpGet(m_control.host, m_control.port, "/proxies/" + std::to_string(id) + "/counters");
    if (reply.status != 200) return counters;
    size_t start = 0;
    while (start < reply.body.size()) {
        size_t end = reply.body.find('\n', start);
        if (end == std::string::npos) end = reply.body.size();
        const std::string line = reply.body.substr(start, end - start);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) counters[line.substr(0, eq)] = std::strtol(line.c_str() + eq + 1, nullptr, 10);
        start = end + 1;
    }
    return counters;
}

}  // namespace halvencap_test
