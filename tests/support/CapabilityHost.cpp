#include "support/CapabilityHost.h"

namespace halvencap_test {

namespace {

std::string Text(const char* text) { return text != nullptr ? text : "(null)"; }

}  // namespace

void TestCapabilityItem::SetText(const char* text) { m_owner.Record(m_name + " text " + Text(text)); }
void TestCapabilityItem::SetFlag(int32_t value) { m_owner.Record(m_name + " flag " + std::to_string(value)); }
void TestCapabilityItem::SetName(const char* text) { m_owner.Record(m_name + " name " + Text(text)); }
void TestCapabilityItem::SetOption(int32_t value) { m_owner.Record(m_name + " option " + std::to_string(value)); }

TestCapabilityResults::TestCapabilityResults()
    : m_release(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_entered(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

TestCapabilityResults::~TestCapabilityResults() {
    CloseHandle(m_release);
    CloseHandle(m_entered);
}

void TestCapabilityResults::Record(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trace.push_back(line);
}

std::vector<std::string> TestCapabilityResults::Trace() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_trace;
}

void TestCapabilityResults::SetItem(int32_t id, int32_t value) {
    Record("item " + std::to_string(id) + "=" + std::to_string(value));
}

void TestCapabilityResults::SetName(const char* text) {
    Record("name " + Text(text));
    bool block;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        block = m_block;
    }
    if (block) {
        SetEvent(m_entered);
        WaitForSingleObject(m_release, INFINITE);
    }
}

zentavo::ipcapture::ICapabilityItem* TestCapabilityResults::Item(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trace.push_back(name + "()");
    m_items.push_back(std::make_unique<TestCapabilityItem>(*this, name));
    return m_items.back().get();
}

zentavo::ipcapture::ICapabilityItem* TestCapabilityResults::GetDeviceField(int32_t index) {
    return Item("field" + std::to_string(index));
}

zentavo::ipcapture::ICapabilityItem* TestCapabilityResults::GetGroup(int32_t id) {
    return Item("group" + std::to_string(id));
}

zentavo::ipcapture::IFrameIntervalList* TestCapabilityResults::GetFrameIntervalList(int32_t kind) {
    Record("intervals(" + std::to_string(kind) + ")");
    return this;
}

void TestCapabilityResults::Add(const char* text, uint32_t width, uint32_t height, uint32_t frameIntervalMs) {
    Record("size " + Text(text) + " " + std::to_string(width) + " " + std::to_string(height) + " " +
           std::to_string(frameIntervalMs));
}

void TestCapabilityResults::SetDefault(uint32_t intervalMs) { Record("default " + std::to_string(intervalMs)); }
void TestCapabilityResults::Add(uint32_t intervalMs) { Record("interval " + std::to_string(intervalMs)); }

void TestCapabilityResults::BlockInSetName() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_block = true;
}

void TestCapabilityResults::Unblock() { SetEvent(m_release); }

bool TestCapabilityResults::WaitBlocked(std::chrono::milliseconds timeout) const {
    return WaitForSingleObject(m_entered, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

void TestCapabilityCallback::Add(CapabilityOutcome outcome) {
    outcome.threadId = GetCurrentThreadId();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outcomes.push_back(outcome);
    m_changed.notify_all();
}

void TestCapabilityCallback::OnCompleted() {
    CapabilityOutcome o;
    o.kind = CapabilityOutcome::Completed;
    Add(o);
}

void TestCapabilityCallback::OnFailed(int32_t code, const char* message) {
    CapabilityOutcome o;
    o.kind = CapabilityOutcome::Failed;
    o.code = code;
    o.message = Text(message);
    Add(o);
}

void TestCapabilityCallback::OnThreadTerminated() {
    CapabilityOutcome o;
    o.kind = CapabilityOutcome::ThreadTerminated;
    Add(o);
}

std::vector<CapabilityOutcome> TestCapabilityCallback::Outcomes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outcomes;
}

bool TestCapabilityCallback::Wait(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_outcomes.size() >= count; });
}

}  // namespace halvencap_test
