// The test host's frame factory and frames. Each frame records what the
// driver set on it and keeps guard bytes after the data area it was created
// with, so a write past the requested capacity is caught when the frame is
// released. The factory counts frames, keeps a record of every released
// frame (with a copy of its data when asked) and can refuse to create frames.
// Thread-safe: frames may be created and released on any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "host/HostContract.h"

namespace halvencap_test {

class TestFrameFactory;

// What one frame held when it was released (or when recorded explicitly).
struct FrameRecord {
    uint32_t createCode = 0;   // code given to CreateFrame
    uint32_t capacity = 0;     // capacity given to CreateFrame
    std::string sourceName;
    uint32_t code = 0;         // SetCode
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t resolutionClass = 0;
    uint32_t dataSize = 0;
    bool captureTimeSet = false;
    SYSTEMTIME captureTime{};
    bool overrun = false;      // guard bytes changed or data size above capacity
    // One letter per call on the frame, in call order: W SetWidth, H SetHeight,
    // R SetResolutionClass, S SetDataSize, C SetCode, T SetCaptureTime,
    // A GetDataArea. A host may size its buffer in SetDataSize, so the data
    // area must be asked for after it.
    std::string calls;
    std::vector<uint8_t> data; // first dataSize bytes, when the factory keeps data
};

class TestFrame final : public zentavo::ipcapture::IHostFrame {
public:
    static constexpr size_t GUARD_BYTES = 64;
    static constexpr uint8_t GUARD_VALUE = 0xA5;

    TestFrame(uint32_t code, uint32_t capacity, const char* sourceName);

    uint8_t* GetDataArea() override;
    void SetDataSize(uint32_t size) override;
    void SetCaptureTime(const SYSTEMTIME* time) override;
    void SetCode(uint32_t code) override;
    void SetHeight(uint32_t height) override;
    void SetWidth(uint32_t width) override;
    void SetResolutionClass(uint32_t resolutionClass) override;

    // Snapshot of the frame's state; data copied when withData is set.
    FrameRecord Record(bool withData) const;
    bool GuardIntact() const;
    const uint8_t* Data() const { return m_storage.data(); }

private:
    FrameRecord m_record;
    std::vector<uint8_t> m_storage;  // capacity + guard bytes
    bool m_noDataArea = false;
    friend class TestFrameFactory;
};

class TestFrameFactory : public zentavo::ipcapture::IFrameFactory {
public:
    TestFrameFactory() = default;
    ~TestFrameFactory();

    zentavo::ipcapture::IHostFrame* CreateFrame(uint32_t code, uint32_t capacity,
                                                const char* sourceName) override;
    void ReleaseFrame(zentavo::ipcapture::IHostFrame* frame) override;

    // Behaviour.
    void SetKeepData(bool keep);
    void SetFailCreate(bool fail);        // CreateFrame returns null
    void SetNullDataArea(bool nullArea);  // new frames give no data area

    // Observations.
    size_t Created() const;
    size_t Released() const;
    size_t Outstanding() const;
    // Frames whose guard bytes were overwritten or whose data size exceeded
    // the capacity they were created with.
    size_t Overruns() const;
    // Releases of frames this factory did not create or already released.
    size_t BadReleases() const;
    std::vector<FrameRecord> ReleasedRecords() const;
    // Waits until at least count frames have been released in total; false
    // when the time-out passed first.
    bool WaitForReleased(size_t count, std::chrono::milliseconds timeout) const;
    void ClearRecords();

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_releasedChanged;
    std::vector<TestFrame*> m_live;
    std::vector<FrameRecord> m_records;
    size_t m_created = 0;
    size_t m_released = 0;
    size_t m_overruns = 0;
    size_t m_badReleases = 0;
    bool m_keepData = false;
    bool m_failCreate = false;
    bool m_nullDataArea = false;

};

}  // namespace halvencap_test
