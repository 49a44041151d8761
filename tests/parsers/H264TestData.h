// Hand-built H.264 parameter sets and NAL units for the depacketizer tests.
#pragma once

#include <cstdint>
#include <vector>

#include "parsers/BitWriter.h"

namespace halvencap_test {

struct SpsFields {
    uint32_t profile = 66;
    uint32_t level = 31;
    uint32_t spsId = 0;
    uint32_t widthMbs = 80;        // pic_width_in_mbs_minus1 + 1
    uint32_t heightMapUnits = 45;  // pic_height_in_map_units_minus1 + 1
    bool frameMbsOnly = true;
    bool crop = false;
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    uint32_t pocType = 0;
    bool scalingMatrix = false;  // high profiles only
};

// An escaped sequence parameter set NAL unit, header byte 0x67 included.
inline std::vector<uint8_t> MakeSps(const SpsFields& f) {
    BitWriter w;
    w.Bits(f.profile, 8);
    w.Bits(0, 8);  // constraint flags and reserved bits
    w.Bits(f.level, 8);
    w.UE(f.spsId);
    if (f.profile > 99) {
        w.UE(1);  // chroma_format_idc 4:2:0
        w.UE(0);
        w.UE(0);
        w.Bit(0);
        w.Bit(f.scalingMatrix);
        if (f.scalingMatrix) {
            for (int i = 0; i < 8; ++i) {
                w.Bit(1);  // list present
                const int n = i < 6 ? 16 : 64;
                for (int j = 0; j < n; ++j) w.SE(j == 0 ? 8 : 1);
            }
        }
    }
    w.UE(0);  // log2_max_frame_num_minus4
    w.UE(f.pocType);
    if (f.pocType == 0) {
        w.UE(2);
    } else if (f.pocType == 1) {
        w.Bit(0);
        w.SE(-3);
        w.SE(5);
        w.UE(2);
        w.SE(1);
        w.SE(-1);
    }
    w.UE(1);   // max_num_ref_frames
    w.Bit(0);  // gaps
    w.UE(f.widthMbs - 1);
    w.UE(f.heightMapUnits - 1);
    w.Bit(f.frameMbsOnly);
    if (!f.frameMbsOnly) w.Bit(0);
    w.Bit(1);  // direct_8x8_inference
    w.Bit(f.crop);
    if (f.crop) {
        w.UE(f.cropLeft);
        w.UE(f.cropRight);
        w.UE(f.cropTop);
        w.UE(f.cropBottom);
    }
    w.Bit(0);  // vui_parameters_present_flag
    w.Trailing();
    std::vector<uint8_t> nal = {0x67};
    const auto escaped = Escape(w.Bytes());
    nal.insert(nal.end(), escaped.begin(), escaped.end());
    return nal;
}

inline std::vector<uint8_t> MakePps() { return {0x68, 0xCE, 0x38, 0x80}; }

// A slice NAL unit of the given type and size with recognisable contents.
inline std::vector<uint8_t> MakeSlice(uint8_t type, size_t size, uint8_t seed = 0) {
    std::vector<uint8_t> nal(size);
    nal[0] = uint8_t(0x60 | type);
    for (size_t i = 1; i < size; ++i) nal[i] = uint8_t(0x40 + ((i + seed) % 0x3F));  // never 00
    return nal;
}

inline std::vector<uint8_t> AnnexB(std::initializer_list<std::vector<uint8_t>> nals) {
    std::vector<uint8_t> out;
    for (const auto& n : nals) {
        out.insert(out.end(), {0, 0, 1});
        out.insert(out.end(), n.begin(), n.end());
    }
    return out;
}

}  // namespace halvencap_test
