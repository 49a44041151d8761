// Shared terminal output: results on stdout, driver lines and failures on
// stderr, and a live status line that is rewritten in place on a terminal.
// Driver threads and the main thread write at once, so every write holds
// one lock and a pending status line is cleared before any other line.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace zentavo {
namespace cli {

class Console {
public:
    static constexpr size_t STATUS_WIDTH = 79;

    Console(std::FILE* out, std::FILE* err, bool interactive)
        : m_out(out), m_err(err), m_interactive(interactive) {}

    bool Interactive() const { return m_interactive; }
    void Print(const std::string& line);  // stdout
    void Error(const std::string& line);  // stderr
    // On a terminal the status replaces the previous one on the same row;
    // otherwise it is printed as an ordinary line.
    void Status(const std::string& text);
    void EndStatus();

private:
    void ClearStatusLocked();

    std::mutex m_mutex;
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_interactive;
    size_t m_statusShown = 0;  // characters of the status on screen now
};

// Replaces control characters (a driver line may carry CR or LF from a
// device answer) so that one line stays one line.
std::string OneLine(const std::string& text);

}  // namespace cli
}  // namespace zentavo
