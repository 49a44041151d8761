// The request texts the camera I/O sends, as the camera simulator logs them,
// for tests that assert on the exact exchange with the camera.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/CamSim.h"

namespace halvencap_test {
namespace io_requests {

using Action = std::pair<std::string, std::string>;  // key, parameter (may be empty)

inline std::string Logged(const std::vector<Action>& actions) {
    std::string text = "GET /cgi-bin/param_if.cgi?NumActions=" + std::to_string(actions.size());
    for (size_t i = 0; i < actions.size(); ++i) {
        text += "&Action_" + std::to_string(i) + "=" + actions[i].first;
        if (!actions[i].second.empty()) text += "&Parameter_" + std::to_string(i) + "_0=" + actions[i].second;
    }
    return text + " auth=-";
}

// First half of a line's configuration: select it, read its role.
inline std::string ReadLine(uint32_t line) {
    return Logged({{"IO.IOSelector.SetValue", std::to_string(line)},
                   {"IO.Direction.GetValue", ""},
                   {"IO.Function.GetValue", ""},
                   {"IO.Invert.GetValue", ""}});
}

// Second half: select it again and write what differs.
inline std::string WriteLine(uint32_t line, const std::vector<Action>& writes = {}) {
    std::vector<Action> actions{{"IO.IOSelector.SetValue", std::to_string(line)}};
    for (const Action& w : writes) actions.push_back({w.first + ".SetValue", w.second});
    return Logged(actions);
}

// A line that the camera has as an input (its default for lines 0, 1 and
// 4 upwards) turned into a user output.
inline std::vector<std::string> ConfigureInputAsOutput(uint32_t line) {
    return {ReadLine(line), WriteLine(line, {{"IO.Direction", "Output"}, {"IO.Function", "UserOutput"}})};
}

// A line already in the wanted role: only the selector is written.
inline std::vector<std::string> ConfigureUnchanged(uint32_t line) { return {ReadLine(line), WriteLine(line)}; }

// A line that the camera has as an output (lines 2 and 3) turned into an input.
inline std::vector<std::string> ConfigureOutputAsInput(uint32_t line) {
    return {ReadLine(line), WriteLine(line, {{"IO.Direction", "Input"}, {"IO.Function", "Monitor"}})};
}

inline std::string SwitchOutput(uint32_t line, const char* value) {
    return Logged({{"IO.IOSelector.SetValue", std::to_string(line)}, {"IO.State.SetValue", value}});
}

inline std::string ReadInputs() { return Logged({{"IO.MonitorAll.GetValue", ""}}); }

inline std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Polls the camera's request log until it holds at least count entries.
inline std::vector<std::string> WaitLog(const Camera& camera, size_t count,
                                        std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::vector<std::string> log = camera.Log();
    while (log.size() < count && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        log = camera.Log();
    }
    return log;
}

// Lines 0..63 selectable, so that tests can use lines beyond the four the
// simulated camera offers by default.
inline bool WidenLineRange(const Camera& camera) { return camera.Range("IO.IOSelector=0,63,1"); }

}  // namespace io_requests
}  // namespace halvencap_test
