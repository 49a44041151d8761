#include "Console.h"

namespace zentavo {
namespace cli {

std::string OneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = ' ';
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

void Console::ClearStatusLocked() {
    if (m_statusShown == 0) return;
    std::fprintf(m_out, "\r%*s\r", static_cast<int>(m_statusShown), "");
    std::fflush(m_out);
    m_statusShown = 0;
}

void Console::Print(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearStatusLocked();
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
}

void Console::Error(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearStatusLocked();
    std::fprintf(m_err, "%s\n", line.c_str());
    std::fflush(m_err);
}

void Console::Status(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string line = OneLine(text);
    if (!m_interactive) {
        std::fprintf(m_out, "%s\n", line.c_str());
        std::fflush(m_out);
        return;
    }
    if (line.size() > STATUS_WIDTH) line.resize(STATUS_WIDTH);
    const size_t previous = m_statusShown;
    std::fprintf(m_out, "\r%s", line.c_str());
    if (previous > line.size()) std::fprintf(m_out, "%*s", static_cast<int>(previous - line.size()), "");
    std::fflush(m_out);
    m_statusShown = previous > line.size() ? previous : line.size();
}

void Console::EndStatus() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_statusShown == 0) return;
    std::fprintf(m_out, "\n");
    std::fflush(m_out);
    m_statusShown = 0;
}

}  // namespace cli
}  // namespace zentavo
