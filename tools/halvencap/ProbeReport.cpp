#include "ProbeReport.h"

#include <cstdio>
#include <memory>

namespace zentavo {
namespace cli {

namespace {

// Capability items the driver writes.
constexpr int32_t ITEM_STREAMS = 0;
constexpr int32_t ITEM_INPUTS = 2;
constexpr int32_t ITEM_OUTPUTS = 3;
constexpr int32_t ITEM_MPEG4 = 6;
constexpr int32_t ITEM_JPEG = 7;
constexpr int32_t ITEM_H264 = 8;
constexpr int32_t GROUP_VIDEO_STANDARD = 1;
constexpr int32_t GROUP_FIRMWARE = 2;
constexpr int32_t GROUP_SENSOR_AREA = 3;
constexpr int32_t GROUP_IO = 4;

std::string Text(const char* text) { return text != nullptr ? text : ""; }

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : separator) + p;
    return out;
}

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string Rate(uint32_t intervalMs) {
    if (intervalMs == 0) return "-";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f/s", 1000.0 / intervalMs);
    return buffer;
}

// "0,0,1280,1024" as four numbers; false for anything else.
bool SensorArea(const std::string& text, uint32_t (&values)[4]) {
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        uint64_t v = 0;
        size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 10) {
            v = v * 10 + uint64_t(text[at++] - '0');
            ++digits;
        }
        if (digits == 0 || v > 0xFFFFFFFFull) return false;
        values[i] = static_cast<uint32_t>(v);
        if (i < 3) {
            if (at >= text.size() || text[at] != ',') return false;
            ++at;
        }
    }
    return at == text.size();
}

}  // namespace

int32_t ProbeReport::Item(int32_t id, int32_t fallback) const {
    int32_t value = fallback;
    for (const auto& item : items)
        if (item.first == id) value = item.second;
    return value;
}

bool ProbeReport::HasItem(int32_t id) const {
    for (const auto& item : items)
        if (item.first == id) return true;
    return false;
}

std::vector<std::string> ProbeReport::Codecs() const {
    std::vector<std::string> names;
    for (const auto& item : items) {
        if (item.second == 0) continue;
        if (item.first == ITEM_H264) names.push_back("H.264");
        if (item.first == ITEM_MPEG4) names.push_back("MPEG-4");
        if (item.first == ITEM_JPEG) names.push_back("JPEG");
    }
    return names;
}

std::string ProbeReport::GroupText(int32_t id) const {
    const auto it = groups.find(id);
    return it == groups.end() || it->second.text == "(none)" ? std::string() : it->second.text;
}

std::vector<ProbeLine> ProbeReport::IoLines() const {
    std::vector<ProbeLine> lines;
    const std::string text = GroupText(GROUP_IO);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(start, end - start);
        while (!part.empty() && part.front() == ' ') part.erase(0, 1);
        const size_t eq = part.find('=');
        if (eq != std::string::npos) {
            const bool input = part.compare(0, eq, "input") == 0;
            const bool output = part.compare(0, eq, "output") == 0;
            size_t p = eq + 1;
            while ((input || output) && p < part.size()) {
                size_t comma = part.find(',', p);
                if (comma == std::string::npos) comma = part.size();
                const std::string number = part.substr(p, comma - p);
                if (!number.empty() && number.find_first_not_of("0123456789") == std::string::npos &&
                    number.size() <= 10) {
                    ProbeLine line;
                    line.line = static_cast<uint32_t>(std::stoull(number));
                    line.input = input;
                    lines.push_back(line);
                }
                p = comma + 1;
            }
        }
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> RenderTable(const ProbeReport& r) {
    std::vector<std::string> out;
    const size_t w = 17;
    const std::string none = "(none)";
    auto row = [&](const std::string& key, const std::string& value) { out.push_back(Pad(key, w) + value); };
    row("device", r.device);
    row("name", r.name.empty() ? none : r.name);
    const std::string firmware = r.GroupText(GROUP_FIRMWARE);
    row("firmware", firmware.empty() ? none : firmware);
    const std::string area = r.GroupText(GROUP_SENSOR_AREA);
    uint32_t a[4] = {};
    if (SensorArea(area, a)) {
        row("sensor area", std::to_string(a[2]) + "x" + std::to_string(a[3]) + " at (" + std::to_string(a[0]) +
                               "," + std::to_string(a[1]) + ")");
    } else {
        row("sensor area", area.empty() ? none : area);
    }
    if (r.groups.count(GROUP_VIDEO_STANDARD)) row("video standard", r.groups.at(GROUP_VIDEO_STANDARD).text);
    row("streams", std::to_string(r.Item(ITEM_STREAMS)));
    const std::vector<std::string> codecs = r.Codecs();
    row("codecs", codecs.empty() ? none : Join(codecs, ", "));
    out.push_back("");
    out.push_back(Pad("picture size", w) + Pad("min interval", 14) + "max rate");
    for (const ProbeSize& s : r.sizes)
        out.push_back(Pad("  " + s.text, w) + Pad(std::to_string(s.minIntervalMs) + " ms", 14) + Rate(s.minIntervalMs));
    out.push_back("");
    out.push_back(Pad("frame interval", w) + Pad("rate", 14) + "default");
    for (uint32_t ms : r.intervalsMs)
        out.push_back(Pad("  " + std::to_string(ms) + " ms", w) + Pad(Rate(ms), 14) +
                      (ms == r.defaultIntervalMs ? "*" : ""));
    out.push_back("");
    const std::vector<ProbeLine> lines = r.IoLines();
    out.push_back(Pad("I/O line", w) + "direction");
    for (const ProbeLine& l : lines) out.push_back(Pad("  " + std::to_string(l.line), w) + (l.input ? "input" : "output"));
    if (lines.empty()) out.push_back("  (none)");
    out.push_back(std::to_string(r.Item(ITEM_INPUTS)) + " inputs, " + std::to_string(r.Item(ITEM_OUTPUTS)) +
                  " outputs");
    for (std::string& line : out) line.erase(line.find_last_not_of(' ') + 1);
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7f) {
                    // Bytes in the host's code page: kept as \u00XX so the
                    // output stays valid (ASCII) JSON whatever they were.
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                    out += buffer;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string RenderJson(const ProbeReport& r) {
    auto str = [](const std::string& s) { return JsonString(s); };
    auto num = [](uint64_t v) { return std::to_string(v); };
    std::string j = "{";
    j += "\"device\": " + str(r.device);
    j += ", \"name\": " + str(r.name);
    j += ", \"firmware\": " + str(r.GroupText(GROUP_FIRMWARE));
    uint32_t a[4] = {};
    if (SensorArea(r.GroupText(GROUP_SENSOR_AREA), a)) {
        j += ", \"sensorArea\": {\"left\": " + num(a[0]) + ", \"top\": " + num(a[1]) + ", \"width\": " + num(a[2]) +
             ", \"height\": " + num(a[3]) + "}";
    } else {
        j += ", \"sensorArea\": null";
    }
    j += ", \"streams\": " + std::to_string(r.Item(ITEM_STREAMS));
    j += ", \"codecs\": [";
    const std::vector<std::string> codecs = r.Codecs();
    for (size_t i = 0; i < codecs.size(); ++i) j += (i ? ", " : "") + str(codecs[i]);
    j += "], \"sizes\": [";
    for (size_t i = 0; i < r.sizes.size(); ++i) {
        const ProbeSize& s = r.sizes[i];
        j += std::string(i ? ", " : "") + "{\"width\": " + num(s.width) + ", \"height\": " + num(s.height) +
             ", \"minFrameIntervalMs\": " + num(s.minIntervalMs) + "}";
    }
    j += "], \"frameIntervalsMs\": [";
    for (size_t i = 0; i < r.intervalsMs.size(); ++i) j += (i ? ", " : "") + num(r.intervalsMs[i]);
    j += "], \"defaultFrameIntervalMs\": " + (r.defaultIntervalMs ? num(r.defaultIntervalMs) : std::string("null"));
    j += ", \"inputs\": " + std::to_string(r.Item(ITEM_INPUTS)) + ", \"outputs\": " + std::to_string(r.Item(ITEM_OUTPUTS));
    j += ", \"ioLines\": [";
    const std::vector<ProbeLine> lines = r.IoLines();
    for (size_t i = 0; i < lines.size(); ++i)
        j += std::string(i ? ", " : "") + "{\"line\": " + num(lines[i].line) + ", \"direction\": " +
             str(lines[i].input ? "input" : "output") + "}";
    j += "], \"groups\": [";
    bool first = true;
    for (const auto& g : r.groups) {
        j += std::string(first ? "" : ", ") + "{\"id\": " + std::to_string(g.first) + ", \"name\": " +
             str(g.second.name) + ", \"flag\": " + std::to_string(g.second.flag) + ", \"text\": " + str(g.second.text) +
             "}";
        first = false;
    }
    j += "], \"items\": {";
    first = true;
    for (const auto& item : r.items) {
        j += std::string(first ? "" : ", ") + "\"" + std::to_string(item.first) + "\": " + std::to_string(item.second);
        first = false;
    }
    return j + "}}";
}

ProbeResults::ProbeResults(const std::string& device) { m_report.device = device; }

void ProbeResults::SetItem(int32_t id, int32_t value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_report.items.emplace_back(id, value);
}

void ProbeResults::SetName(const char* text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_report.name = Text(text);
}

ipcapture::ICapabilityItem* ProbeResults::NewItem(bool field, int32_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        m_items.push_back(std::make_unique<Item>(*this, field, id));
    } catch (...) {
        return nullptr;
    }
    return m_items.back().get();
}

ipcapture::ICapabilityItem* ProbeResults::GetDeviceField(int32_t index) { return NewItem(true, index); }
ipcapture::ICapabilityItem* ProbeResults::GetGroup(int32_t id) { return NewItem(false, id); }

void ProbeResults::Add(const char* text, uint32_t width, uint32_t height, uint32_t frameIntervalMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_report.sizes.push_back(ProbeSize{Text(text), width, height, frameIntervalMs});
}

void ProbeResults::SetDefault(uint32_t intervalMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_report.defaultIntervalMs = intervalMs;
}

void ProbeResults::Add(uint32_t intervalMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_report.intervalsMs.push_back(intervalMs);
}

ProbeReport ProbeResults::Report() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_report;
}

void ProbeResults::Item::SetText(const char* text) {
    std::lock_guard<std::mutex> lock(m_owner.m_mutex);
    if (m_field) {
        m_owner.m_report.fields[m_id] = Text(text);
    } else {
        m_owner.m_report.groups[m_id].text = Text(text);
    }
}

void ProbeResults::Item::SetFlag(int32_t value) {
    std::lock_guard<std::mutex> lock(m_owner.m_mutex);
    if (!m_field) m_owner.m_report.groups[m_id].flag = value;
}

void ProbeResults::Item::SetName(const char* text) {
    std::lock_guard<std::mutex> lock(m_owner.m_mutex);
    if (!m_field) m_owner.m_report.groups[m_id].name = Text(text);
}

}  // namespace cli
}  // namespace zentavo
