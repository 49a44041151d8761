#include "camera/StreamChoices.h"

#include <algorithm>
#include <cstdio>

#include "runtime/TextUtils.h"

namespace zentavo {

std::string ChooseFrameRateEntry(const EntryNameSet& entries, uint32_t frameIntervalMs) {
    if (entries.empty() || frameIntervalMs == 0) return std::string();
    const std::string t = FormatString("Fps_%u", FramesPerSecond(frameIntervalMs));
    if (entries.count(t) != 0) return t;
    auto it = entries.lower_bound(t + "_");
    if (it != entries.end() && it->compare(0, t.size(), t) == 0) return *it;
    return std::string();
}

std::string MapQuality(const PARAM_RANGE& range, uint32_t quality) {
    if (range.min >= range.max) return std::string();
    const uint32_t q = std::min<uint32_t>(std::max<uint32_t>(quality, 1), 100);
    uint32_t v;
    if (range.min == 1 && range.max == 100) {
        v = q;
    } else {
        const double d = static_cast<double>(range.max) - range.min;
        v = range.min + static_cast<uint32_t>(std::min(d, (q - 1) * d / 99.0) + 0.5);
    }
    if (range.inc > 1) {
        const uint32_t r = (v - range.min) % range.inc;
        if (r > range.inc / 2) {
            v += range.inc - r;
            // Rounding up may step past the camera's maximum; it would refuse
            // that value and the stream would never configure.
            if (v > range.max) v -= range.inc;
        } else {
            v -= r;
        }
    }
    return FormatString("%u", v);
}

namespace {

bool ReadSize(const std::string& name, unsigned short& w, unsigned short& h) {
    return std::sscanf(name.c_str(), "Size_%hux%hu", &w, &h) == 2;
}

}  // namespace

bool SizeEntryLess(const std::string& a, const std::string& b) {
    unsigned short aw = 0, ah = 0, bw = 0, bh = 0;
    if (ReadSize(a, aw, ah) && ReadSize(b, bw, bh)) {
        if (aw != bw) return aw < bw;
        return ah < bh;
    }
    return a < b;
}

std::string ChooseSizeEntry(const EntryNameSet& entries, const std::string& wanted) {
    const std::string* best = nullptr;
    const std::string* largest = nullptr;
    for (const std::string& e : entries) {
        if (largest == nullptr || SizeEntryLess(*largest, e)) largest = &e;
        if (SizeEntryLess(e, wanted)) continue;
        if (best == nullptr || SizeEntryLess(e, *best)) best = &e;
    }
    if (best != nullptr) return *best;
    return largest != nullptr ? *largest : std::string();
}

}  // namespace zentavo
