#include "parsers/SpsReader.h"

#include "runtime/BitReader.h"
#include "runtime/ByteReader.h"

namespace zentavo {

namespace {

constexpr uint8_t NAL_TYPE_SPS = 7;
// Far beyond any level's limit; larger values come from corrupt data and
// would otherwise wrap in the size arithmetic.
constexpr int64_t MAX_DIMENSION = 65536;

void SkipScalingList(CBitReader& bits, int entries) {
    int32_t last = 8, next = 8;
    for (int j = 0; j < entries && !bits.Overrun(); ++j) {
        if (next != 0) {
            const int32_t delta = bits.ReadSE();
            next = static_cast<int32_t>((int64_t(last) + delta + 256) % 256);
        }
        last = next == 0 ? last : next;
    }
}

// End of the NAL unit that starts at begin: the next 00 00 00 or 00 00 01.
// Inside a NAL unit these cannot occur (emulation prevention), so reading
// stops where the parameter set ends instead of running into the next unit.
size_t NalEnd(const CByteReader& range, size_t begin) {
    static const uint8_t zeros[2] = {0, 0};
    for (size_t i = range.Find(zeros, 2, begin); i != CByteReader::npos; i = range.Find(zeros, 2, i + 1)) {
        if (i + 2 < range.Size() && range.Data()[i + 2] <= 1) return i;
    }
    return range.Size();
}

bool ParseSps(CBitReader& bits, CPictureSize& out) {
    const uint32_t profile = bits.ReadBits(8);
    bits.ReadBits(4);  // constraint_set0..3 flags
    bits.ReadBits(4);  // further constraint flags and reserved bits
    bits.ReadBits(8);  // level_idc
    bits.ReadUE();     // seq_parameter_set_id
    if (profile > 99) {
        const uint32_t chromaFormat = bits.ReadUE();
        if (chromaFormat == 3) bits.ReadBit();  // separate_colour_plane_flag
        bits.ReadUE();                          // bit_depth_luma_minus8
        bits.ReadUE();                          // bit_depth_chroma_minus8
        bits.ReadBit();                         // qpprime_y_zero_transform_bypass_flag
        if (bits.ReadBit()) {                   // seq_scaling_matrix_present_flag
            for (int i = 0; i < 8 && !bits.Overrun(); ++i) {
                if (bits.ReadBit()) SkipScalingList(bits, i < 6 ? 16 : 64);
            }
        }
    }
    bits.ReadUE();  // log2_max_frame_num_minus4
    const uint32_t pocType = bits.ReadUE();
    if (pocType == 0) {
        bits.ReadUE();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        bits.ReadBit();  // delta_pic_order_always_zero_flag
        bits.ReadSE();   // offset_for_non_ref_pic
        bits.ReadSE();   // offset_for_top_to_bottom_field
        const uint32_t cycle = bits.ReadUE();
        for (uint32_t i = 0; i < cycle && !bits.Overrun(); ++i) bits.ReadSE();
    }
    bits.ReadUE();   // max_num_ref_frames
    bits.ReadBit();  // gaps_in_frame_num_value_allowed_flag
    const int64_t widthMbs = int64_t(bits.ReadUE()) + 1;
    const int64_t heightMapUnits = int64_t(bits.ReadUE()) + 1;
    const uint32_t frameMbsOnly = bits.ReadBit();
    if (!frameMbsOnly) bits.ReadBit();  // mb_adaptive_frame_field_flag
    bits.ReadBit();                     // direct_8x8_inference_flag
    int64_t left = 0, right = 0, top = 0, bottom = 0;
    if (bits.ReadBit()) {
        left = bits.ReadUE();
        right = bits.ReadUE();
        top = bits.ReadUE();
        bottom = bits.ReadUE();
    }
    if (bits.Overrun()) return false;

    const int64_t width = widthMbs * 16 - 2 * (left + right);
    const int64_t height = (2 - int64_t(frameMbsOnly)) * heightMapUnits * 16 - 2 * (top + bottom);
    if (width <= 0 || height <= 0 || width > MAX_DIMENSION || height > MAX_DIMENSION) return false;
    out.width = static_cast<uint32_t>(width);
    out.height = static_cast<uint32_t>(height);
    return true;
}

}  // namespace

bool CSpsReader::Read(const uint8_t* data, size_t size, CPictureSize& out) {
    if (!data) return false;
    CByteReader range(data, size);
    static const uint8_t startCode[3] = {0, 0, 1};
    for (size_t at = range.Find(startCode, 3, 0); at != CByteReader::npos && at < SEARCH_WINDOW;
         at = range.Find(startCode, 3, at + 1)) {
        const size_t header = at + 3;
        if (header >= size || (data[header] & 0x1F) != NAL_TYPE_SPS) continue;
        const size_t begin = header + 1;
        const size_t end = NalEnd(range, begin);
        CBitReader bits(data + begin, end - begin, true);
        CPictureSize picture;
        if (!ParseSps(bits, picture)) return false;
        out = picture;
        return true;
    }
    return false;
}

}  // namespace zentavo
