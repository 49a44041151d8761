// An in-process HTTP server on a free loopback port for exact HTTP client
// tests: each request takes the next scripted answer (or the default one),
// and the raw request texts are recorded for the test to inspect.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace halvencap_test {

struct ScriptedAnswer {
    enum class Kind {
        Respond,  // status line, headers, body
        Hang,     // read the request, never answer until released
        Close,    // close the connection without a word
        Raw,      // send body verbatim (no status line), then close
    };
    Kind kind = Kind::Respond;
    int status = 200;
    std::string reason = "OK";
    std::vector<std::string> headers;  // complete "Name: value" lines
    std::string body;
    bool announceLength = true;        // Content-Length: body size
    long long announcedLength = -1;    // overrides the announced value when >= 0
    bool stallAfterBody = false;       // keep the connection open after the body

    static ScriptedAnswer Ok(const std::string& body);
    static ScriptedAnswer Status(int status, const std::string& reason);
    static ScriptedAnswer Hang();
    static ScriptedAnswer Close();
    static ScriptedAnswer Raw(const std::string& bytes);
};

class ScriptedHttpServer {
public:
    ScriptedHttpServer();
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    bool IsListening() const { return m_port != 0; }
    uint16_t Port() const { return m_port; }

    void Push(const ScriptedAnswer& answer);
    void SetDefault(const ScriptedAnswer& answer);
    // Lets every hanging or stalled connection go (they are then closed).
    void ReleaseHangs();

    std::vector<std::string> Requests() const;
    size_t RequestCount() const;
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;

    // The value of the first header with that name (case-insensitive) in a
    // raw request text; empty when absent.
    static std::string HeaderValue(const std::string& rawRequest, const std::string& name);
    static bool HasHeader(const std::string& rawRequest, const std::string& name);
    static std::string RequestLine(const std::string& rawRequest);
    // A loopback port with nothing listening on it.
    static uint16_t ClosedPort();

private:
    struct Connection;

    void AcceptLoop();
    void Serve(std::shared_ptr<Connection> connection);
    ScriptedAnswer NextAnswer();
    void WaitForRelease();

    uintptr_t m_listener;
    uint16_t m_port = 0;
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    bool m_released = false;
    std::deque<ScriptedAnswer> m_script;
    ScriptedAnswer m_default;
    std::vector<std::string> m_requests;
    std::vector<std::shared_ptr<Connection>> m_connections;
    std::vector<std::thread> m_workers;
};

}  // namespace halvencap_test
