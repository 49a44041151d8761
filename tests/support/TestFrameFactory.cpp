#include "support/TestFrameFactory.h"

#include <algorithm>
#include <cstring>

namespace halvencap_test {

TestFrame::TestFrame(uint32_t code, uint32_t capacity, const char* sourceName)
    : m_storage(size_t(capacity) + GUARD_BYTES, 0) {
    m_record.createCode = code;
    m_record.capacity = capacity;
    m_record.sourceName = sourceName ? sourceName : "";
    std::fill(m_storage.begin() + capacity, m_storage.end(), GUARD_VALUE);
}

uint8_t* TestFrame::GetDataArea() {
    m_record.calls += 'A';
    return m_noDataArea ? nullptr : m_storage.data();
}
void TestFrame::SetDataSize(uint32_t size) {
    m_record.calls += 'S';
    m_record.dataSize = size;
}
void TestFrame::SetCaptureTime(const SYSTEMTIME* time) {
    m_record.calls += 'T';
    m_record.captureTimeSet = time != nullptr;
    if (time) m_record.captureTime = *time;
}
void TestFrame::SetCode(uint32_t code) {
    m_record.calls += 'C';
    m_record.code = code;
}
void TestFrame::SetHeight(uint32_t height) {
    m_record.calls += 'H';
    m_record.height = height;
}
void TestFrame::SetWidth(uint32_t width) {
    m_record.calls += 'W';
    m_record.width = width;
}
void TestFrame::SetResolutionClass(uint32_t resolutionClass) {
    m_record.calls += 'R';
    m_record.resolutionClass = resolutionClass;
}

bool TestFrame::GuardIntact() const {
    return std::all_of(m_storage.begin() + m_record.capacity, m_storage.end(),
                       [](uint8_t b) { return b == GUARD_VALUE; });
}

FrameRecord TestFrame::Record(bool withData) const {
    FrameRecord r = m_record;
    r.overrun = !GuardIntact() || r.dataSize > r.capacity;
    if (withData) {
        const size_t n = std::min<size_t>(r.dataSize, r.capacity);
        r.data.assign(m_storage.begin(), m_storage.begin() + n);
    }
    return r;
}

TestFrameFactory::~TestFrameFactory() {
    for (TestFrame* f : m_live) delete f;
}

zentavo::ipcapture::IHostFrame* TestFrameFactory::CreateFrame(uint32_t code, uint32_t capacity,
                                                              const char* sourceName) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failCreate) return nullptr;
    TestFrame* frame = new TestFrame(code, capacity, sourceName);
    frame->m_noDataArea = m_nullDataArea;
    m_live.push_back(frame);
    ++m_created;
    return frame;
}

void TestFrameFactory::ReleaseFrame(zentavo::ipcapture::IHostFrame* frame) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find(m_live.begin(), m_live.end(), frame);
        if (it == m_live.end()) {
            ++m_badReleases;
            return;
        }
        TestFrame* own = *it;
        m_live.erase(it);
        FrameRecord record = own->Record(m_keepData);
        if (record.overrun) ++m_overruns;
        m_records.push_back(std::move(record));
        ++m_released;
        delete own;
    }
    m_releasedChanged.notify_all();
}

bool TestFrameFactory::WaitForReleased(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_releasedChanged.wait_for(lock, timeout, [&] { return m_released >= count; });
}

void TestFrameFactory::SetKeepData(bool keep) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keepData = keep;
}
void TestFrameFactory::SetFailCreate(bool fail) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failCreate = fail;
}
void TestFrameFactory::SetNullDataArea(bool nullArea) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nullDataArea = nullArea;
}
size_t TestFrameFactory::Created() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_created;
}
size_t TestFrameFactory::Released() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_released;
}
size_t TestFrameFactory::Outstanding() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_live.size();
}
size_t TestFrameFactory::Overruns() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_overruns;
}
size_t TestFrameFactory::BadReleases() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_badReleases;
}
std::vector<FrameRecord> TestFrameFactory::ReleasedRecords() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}
void TestFrameFactory::ClearRecords() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.clear();
}

}  // namespace halvencap_test
