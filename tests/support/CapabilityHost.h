// The host's side of a capability query for tests: a result object whose
// every call (getters included) lands in one ordered trace, and a callback
// that records how the probe ended and on which thread. Both are called on
// the probe thread and read by the test thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capability/CapabilityContract.h"
#include "runtime/PlatformTypes.h"

namespace halvencap_test {

class TestCapabilityResults;

// A device field ("field1") or group ("group2") handed out by the results.
class TestCapabilityItem : public zentavo::ipcapture::ICapabilityItem {
public:
    TestCapabilityItem(TestCapabilityResults& owner, std::string name) : m_owner(owner), m_name(std::move(name)) {}
    void SetText(const char* text) override;
    void SetFlag(int32_t value) override;
    void SetName(const char* text) override;
    void SetOption(int32_t value) override;

private:
    TestCapabilityResults& m_owner;
    std::string m_name;
};

// Trace lines:
//   "name <text>", "item <id>=<value>", "field(<i>)", "group(<id>)",
//   "<item> text <t>" / "flag <v>" / "name <t>" / "option <v>",
//   "sizes()", "size <text> <w> <h> <ms>", "intervals(<kind>)",
//   "interval <ms>", "default <ms>".
class TestCapabilityResults : public zentavo::ipcapture::ICapabilityResults,
                              public zentavo::ipcapture::IFrameSizeList,
                              public zentavo::ipcapture::IFrameIntervalList {
public:
    TestCapabilityResults();
    ~TestCapabilityResults();

    void SetItem(int32_t id, int32_t value) override;
    void SetName(const char* text) override;
    zentavo::ipcapture::ICapabilityItem* GetDeviceField(int32_t index) override;
    zentavo::ipcapture::ICapabilityItem* GetGroup(int32_t id) override;
    zentavo::ipcapture::IFrameSizeList* GetFrameSizeList() override { Record("sizes()"); return this; }
    zentavo::ipcapture::IFrameIntervalList* GetFrameIntervalList(int32_t kind) override;
    void Add(const char* text, uint32_t width, uint32_t height, uint32_t frameIntervalMs) override;
    void SetDefault(uint32_t intervalMs) override;
    void Add(uint32_t intervalMs) override;

    std::vector<std::string> Trace() const;
    void Record(const std::string& line);

    // SetName blocks (no lock held) until Unblock, like a host stuck in its
    // own code; entered tells that the probe thread got there.
    void BlockInSetName();
    void Unblock();
    bool WaitBlocked(std::chrono::milliseconds timeout) const;

private:
    zentavo::ipcapture::ICapabilityItem* Item(const std::string& name);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_trace;
    std::vector<std::unique_ptr<TestCapabilityItem>> m_items;
    bool m_block = false;
    HANDLE m_release;
    HANDLE m_entered;
};

struct CapabilityOutcome {
    enum Kind { None, Completed, Failed, ThreadTerminated };
    Kind kind = None;
    int32_t code = -1;
    std::string message;
    uint32_t threadId = 0;
};

class TestCapabilityCallback : public zentavo::ipcapture::ICapabilityQueryCallback {
public:
    void OnCompleted() override;
    void OnFailed(int32_t code, const char* message) override;
    void OnThreadTerminated() override;

    // Every callback so far, in order.
    std::vector<CapabilityOutcome> Outcomes() const;
    // Waits for the count-th callback; false on time-out.
    bool Wait(size_t count, std::chrono::milliseconds timeout) const;

private:
    void Add(CapabilityOutcome outcome);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<CapabilityOutcome> m_outcomes;
};

}  // namespace halvencap_test
