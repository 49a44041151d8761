// What `probe` learned about a device, collected from the driver's calls on
// the host's result object, and its two renderings: a table for people and
// JSON for scripts.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capability/CapabilityContract.h"

namespace zentavo {
namespace cli {

struct ProbeSize {
    std::string text;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t minIntervalMs = 0;
};

struct ProbeGroup {
    std::string name;
    int32_t flag = 0;
    std::string text;
};

struct ProbeLine {
    uint32_t line = 0;
    bool input = true;
};

struct ProbeReport {
    std::string device;  // address:port as asked
    std::string name;
    std::map<int32_t, std::string> fields;  // 1 address, 2 port, 3 user, 4 password
    std::vector<std::pair<int32_t, int32_t>> items;  // in the order written
    std::vector<ProbeSize> sizes;
    std::vector<uint32_t> intervalsMs;
    uint32_t defaultIntervalMs = 0;  // 0 = none given
    std::map<int32_t, ProbeGroup> groups;

    // Derived from the above.
    int32_t Item(int32_t id, int32_t fallback = 0) const;
    bool HasItem(int32_t id) const;
    std::vector<std::string> Codecs() const;
    std::string GroupText(int32_t id) const;
    // "input=0,1; output=2,3" of the I/O group, line by line.
    std::vector<ProbeLine> IoLines() const;
};

std::vector<std::string> RenderTable(const ProbeReport& report);
std::string RenderJson(const ProbeReport& report);
std::string JsonString(const std::string& text);

// The host's result object for one probe: every driver call lands in the
// report. Called on the probe thread; Report() after the probe ended.
class ProbeResults final : public ipcapture::ICapabilityResults,
                           public ipcapture::IFrameSizeList,
                           public ipcapture::IFrameIntervalList {
public:
    explicit ProbeResults(const std::string& device);
    ProbeResults(const ProbeResults&) = delete;
    ProbeResults& operator=(const ProbeResults&) = delete;

    void SetItem(int32_t id, int32_t value) override;
    void SetName(const char* text) override;
    ipcapture::ICapabilityItem* GetDeviceField(int32_t index) override;
    ipcapture::ICapabilityItem* GetGroup(int32_t id) override;
    ipcapture::IFrameSizeList* GetFrameSizeList() override { return this; }
    ipcapture::IFrameIntervalList* GetFrameIntervalList(int32_t) override { return this; }
    void Add(const char* text, uint32_t width, uint32_t height, uint32_t frameIntervalMs) override;
    void SetDefault(uint32_t intervalMs) override;
    void Add(uint32_t intervalMs) override;

    ProbeReport Report() const;

private:
    class Item final : public ipcapture::ICapabilityItem {
    public:
        Item(ProbeResults& owner, bool field, int32_t id) : m_owner(owner), m_field(field), m_id(id) {}
        void SetText(const char* text) override;
        void SetFlag(int32_t value) override;
        void SetName(const char* text) override;
        void SetOption(int32_t) override {}

    private:
        ProbeResults& m_owner;
        bool m_field;
        int32_t m_id;
    };

    ipcapture::ICapabilityItem* NewItem(bool field, int32_t id);

    mutable std::mutex m_mutex;
    ProbeReport m_report;
    std::vector<std::unique_ptr<Item>> m_items;
};

}  // namespace cli
}  // namespace zentavo
