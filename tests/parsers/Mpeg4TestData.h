// Hand-built MPEG-4 Visual configuration headers and VOPs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "parsers/BitWriter.h"

namespace halvencap_test {

struct VolFields {
    uint32_t width = 640;
    uint32_t height = 480;
    uint32_t resolution = 25;
    bool fixedRate = true;
    uint32_t fixedIncrement = 1;
    uint32_t objectType = 1;
    bool vbv = false;
    bool badVbvMarker = false;
    uint32_t shape = 0;
    bool withSequenceHeader = true;
    bool userData = false;
    uint32_t visualObjectType = 1;
};

inline unsigned IncrementBits(uint32_t resolution) {
    unsigned n = 0;
    for (uint32_t v = resolution ? resolution - 1 : 0; v; v >>= 1) ++n;
    return n ? n : 1;
}

inline std::vector<uint8_t> MakeConfig(const VolFields& f) {
    BitWriter w;
    if (f.withSequenceHeader) {
        w.Bits(0x000001B0, 32);
        w.Bits(0x01, 8);  // simple profile level 1
        if (f.userData) {
            w.Bits(0x000001B2, 32);
            for (char c : std::string("Lavc")) w.Bits(uint8_t(c), 8);
        }
        w.Bits(0x000001B5, 32);
        w.Bit(0);                       // is_visual_object_identifier
        w.Bits(f.visualObjectType, 4);  // video
        w.Bit(0);                       // video_signal_type
        w.AlignOnes();
    }
    w.Bits(0x00000100, 32);  // video object
    w.Bits(0x00000120, 32);  // video object layer
    w.Bit(0);                // random_accessible_vol
    w.Bits(f.objectType, 8);
    w.Bit(0);        // is_object_layer_identifier
    w.Bits(1, 4);    // aspect ratio square
    w.Bit(1);        // vol_control_parameters
    w.Bits(1, 2);    // chroma 4:2:0
    w.Bit(1);        // low_delay
    w.Bit(f.vbv);
    if (f.vbv) {
        const unsigned fields[] = {15, 15, 15, 14, 15};
        for (unsigned i = 0; i < 5; ++i) {
            w.Bits(0x1234 & ((1u << fields[i]) - 1), fields[i]);
            w.Bit(!(f.badVbvMarker && i == 2));
        }
    }
    w.Bits(f.shape, 2);
    w.Bit(1);
    w.Bits(f.resolution, 16);
    w.Bit(1);
    w.Bit(f.fixedRate);
    if (f.fixedRate) w.Bits(f.fixedIncrement, IncrementBits(f.resolution));
    w.Bit(1);
    w.Bits(f.width, 13);
    w.Bit(1);
    w.Bits(f.height, 13);
    w.Bit(1);
    w.Bit(0);  // interlaced
    w.Bit(1);  // obmc_disable
    w.Bit(0);  // sprite_enable
    w.Bit(0);  // not_8_bit
    w.Bit(0);  // quant_type
    w.Bit(1);  // complexity_estimation_disable
    w.Bit(1);  // resync_marker_disable
    w.Bit(0);  // data_partitioned
    w.Bit(0);  // scalability
    w.AlignOnes();
    return w.Bytes();
}

// A VOP: start code, coding type in the top two bits, then filler.
inline std::vector<uint8_t> MakeVop(bool intra, size_t size, uint8_t seed = 0) {
    std::vector<uint8_t> v = {0, 0, 1, 0xB6, uint8_t(intra ? 0x10 : 0x50)};
    for (size_t i = v.size(); i < size; ++i) v.push_back(uint8_t(0x20 + ((i + seed) % 0x5F)));
    return v;
}

}  // namespace halvencap_test
