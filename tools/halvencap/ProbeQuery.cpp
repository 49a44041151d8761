#include "ProbeQuery.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ExitCodes.h"
#include "capability/IIPCapabilityQuery.h"

namespace zentavo {
namespace cli {

namespace {

// The driver bounds every exchange with the camera; these only keep the
// program from waiting for ever on a driver that never calls back.
constexpr auto PROBE_WAIT = std::chrono::seconds(120);
constexpr auto TERMINATE_WAIT = std::chrono::seconds(30);

class ProbeCallback final : public ipcapture::ICapabilityQueryCallback {
public:
    void OnCompleted() override { Finish(true, 0, ""); }
    void OnFailed(int32_t code, const char* message) override { Finish(false, code, message ? message : ""); }
    void OnThreadTerminated() override {}

    bool Wait(std::chrono::seconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_done; });
    }
    bool Succeeded() const { return m_succeeded; }
    int32_t Code() const { return m_code; }
    const std::string& Message() const { return m_message; }

private:
    void Finish(bool succeeded, int32_t code, const std::string& message) {
        try {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_succeeded = succeeded;
            m_code = code;
            m_message = message;
            m_done = true;
            m_changed.notify_all();
        } catch (...) {
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
    bool m_succeeded = false;
    int32_t m_code = -1;
    std::string m_message;
};

using CreateQueryFn = ipcapture::IIPCapabilityQuery* (*)(ipcapture::ICapabilityQueryCallback*, uint32_t);
using DeleteQueryFn = void (*)(void*);

}  // namespace

ProbeOutcome RunCapabilityQuery(const Options& o, const DriverModule& module, ProbeResults& results) {
    ProbeOutcome outcome;
    const auto create = reinterpret_cast<CreateQueryFn>(module.Export("CreateCapabilityQueryModule"));
    const auto destroy = reinterpret_cast<DeleteQueryFn>(module.Export("DeleteCapabilityQueryModule"));
    if (create == nullptr || destroy == nullptr) {
        outcome.message = "the driver library offers no capability query";
        return outcome;
    }
    ProbeCallback callback;
    ipcapture::IIPCapabilityQuery* query = create(&callback, 0);
    if (query == nullptr) {
        outcome.message = "the driver library could not create a capability query";
        return outcome;
    }
    if (query->Start(o.address.c_str(), o.port, o.user.c_str(), o.password.c_str(), &results) != 1) {
        destroy(query);
        outcome.message = "the driver could not start the capability query";
        return outcome;
    }
    bool ended = callback.Wait(PROBE_WAIT);
    if (!ended) {
        query->Terminate();
        ended = callback.Wait(TERMINATE_WAIT);
    }
    // Waits (bounded by the driver) for the probe thread.
    destroy(query);
    if (!ended) {
        outcome.end = ProbeOutcome::End::Hung;
        outcome.message = "the capability query did not end";
        return outcome;
    }
    outcome.end = callback.Succeeded() ? ProbeOutcome::End::Completed : ProbeOutcome::End::Failed;
    outcome.code = callback.Code();
    outcome.message = callback.Message();
    return outcome;
}

int ProbeExitCode(int32_t failure) {
    switch (failure) {
        case ipcapture::CAPABILITY_BAD_ADDRESS: return EXIT_BAD_ARGUMENTS;
        case ipcapture::CAPABILITY_LOGIN_REFUSED:
        case ipcapture::CAPABILITY_UNREACHABLE:
        case ipcapture::CAPABILITY_OTHER_FAILURE: return EXIT_DEVICE_UNREACHABLE;
        default: return EXIT_FAILURE_OTHER;
    }
}

}  // namespace cli
}  // namespace zentavo
