#include "parsers/MP4Parser.h"

#include "runtime/BitReader.h"
#include "runtime/ByteReader.h"

namespace zentavo {

namespace {

constexpr uint32_t VISUAL_OBJECT_SEQUENCE_START = 0x000001B0;
constexpr uint32_t USER_DATA_START = 0x000001B2;
constexpr uint32_t VISUAL_OBJECT_START = 0x000001B5;
constexpr uint32_t VIDEO_OBJECT_PREFIX_27 = 0x8;        // 00 00 01 0x, top 27 bits
constexpr uint32_t VIDEO_OBJECT_LAYER_PREFIX_28 = 0x12;  // 00 00 01 2x, top 28 bits
constexpr uint32_t SHORT_VIDEO_START_MARKER = 0x20;      // 22 bits
constexpr uint32_t MAX_CODED_DIMENSION = 32000;

uint32_t Peek(const CBitReader& bits, unsigned count) {
    CBitReader copy = bits;
    const uint32_t v = copy.ReadBits(count);
    return copy.Overrun() ? ~0u : v;
}

uint32_t RoundUp16(uint32_t v) { return (v + 15) & ~15u; }

// Moves to the next 00 00 01 at or after the next byte boundary; false when
// none remains.
bool NextStartCode(CBitReader& bits) {
    bits.AlignToByte();
    static const uint8_t prefix[3] = {0, 0, 1};
    const CByteReader all(bits.Data(), bits.Size());
    const size_t at = all.Find(prefix, 3, bits.BytePosition());
    if (at == CByteReader::npos) {
        bits.SeekByte(bits.Size());
        return false;
    }
    bits.SeekByte(at);
    return true;
}

void SkipUserData(CBitReader& bits) {
    if (Peek(bits, 32) != USER_DATA_START) return;
    bits.ReadBits(32);
    // Bytes up to the next start code prefix (or the end).
    NextStartCode(bits);
}

unsigned BitLength(uint32_t v) {
    unsigned n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

// Picture sizes of the standard source formats 1 to 5.
bool StandardFormat(uint32_t format, CPictureSize& size) {
    static const CPictureSize sizes[] = {{128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
    if (format < 1 || format > 5) return false;
    size = sizes[format - 1];
    return true;
}

}  // namespace

bool CMP4Parser::ParseHeader(const uint8_t* data, size_t length, CPictureSize& size) {
    m_coded.Clear();
    m_exact.Clear();
    if (!data || length == 0) return false;
    CBitReader bits(data, length);

    bool searchVol = false;
    if (Peek(bits, 32) == VISUAL_OBJECT_SEQUENCE_START) {
        if (!ParseVisualObjectHeaders(bits, searchVol)) return false;
    }
    if (!searchVol) {
        if (Peek(bits, 27) == VIDEO_OBJECT_PREFIX_27) {
            bits.ReadBits(32);
            if (bits.ReadBits(28) == VIDEO_OBJECT_LAYER_PREFIX_28 && !bits.Overrun())
                return ParseVideoObjectLayer(bits) && Finish(size);
            if (bits.AtEnd()) return false;
        } else if (Peek(bits, 22) == SHORT_VIDEO_START_MARKER) {
            return ParseShortHeader(bits) && Finish(size);
        }
    }
    for (;;) {
        if (bits.Overrun() || !NextStartCode(bits)) return false;
        if (bits.ReadBits(28) == VIDEO_OBJECT_LAYER_PREFIX_28 && !bits.Overrun()) break;
    }
    return ParseVideoObjectLayer(bits) && Finish(size);
}

bool CMP4Parser::ParseVisualObjectHeaders(CBitReader& bits, bool& searchVol) {
    bits.ReadBits(32);  // visual_object_sequence_start_code
    bits.ReadBits(8);   // profile_and_level_indication
    SkipUserData(bits);
    if (bits.ReadBits(32) != VISUAL_OBJECT_START || bits.Overrun()) return false;
    if (bits.ReadBit()) {  // is_visual_object_identifier
        bits.ReadBits(4);  // visual_object_verid
        bits.ReadBits(3);  // visual_object_priority
    }
    if (bits.ReadBits(4) != 1) {  // visual_object_type: not video
        searchVol = true;
        return !bits.Overrun();
    }
    if (bits.ReadBit()) {  // video_signal_type
        bits.ReadBits(3);  // video_format
        bits.ReadBit();    // video_range
        if (bits.ReadBit()) bits.ReadBits(24);  // colour description
    }
    bits.AlignToByte();
    SkipUserData(bits);
    return !bits.Overrun();
}

bool CMP4Parser::ParseVideoObjectLayer(CBitReader& bits) {
    bits.ReadBits(4);  // rest of the video_object_layer_start_code
    bits.ReadBit();    // random_accessible_vol
    if (bits.ReadBits(8) != 1) return false;  // only the Simple object type
    if (bits.ReadBit()) bits.ReadBits(7);    // layer verid and priority
    if (bits.ReadBits(4) == 15) bits.ReadBits(16);  // extended pixel aspect ratio
    if (bits.ReadBit()) {                           // vol_control_parameters
        if (bits.ReadBits(2) != 1) return false;    // chroma_format 4:2:0
        if (bits.ReadBit() != 1) return false;      // low_delay
        if (bits.ReadBit()) {                       // vbv_parameters
            static const unsigned fields[] = {15, 15, 15, 3 + 11, 15};
            for (unsigned width : fields) {
                bits.ReadBits(width);
                if (bits.ReadBit() != 1) return false;
            }
        }
    }
    if (bits.ReadBits(2) != 0) return false;  // rectangular shape only
    bits.ReadBit();                           // marker
    const uint32_t resolution = bits.ReadBits(16);
    bits.ReadBit();                           // marker
    if (bits.ReadBit()) {                     // fixed_vop_rate
        const unsigned increment = BitLength(resolution ? resolution - 1 : 0);
        bits.ReadBits(increment ? increment : 1);
    }
    bits.ReadBit();  // marker
    const uint32_t width = bits.ReadBits(13);
    bits.ReadBit();  // marker
    const uint32_t height = bits.ReadBits(13);
    if (bits.Overrun()) return false;
    m_exact = CPictureSize(width, height);
    m_coded = CPictureSize(RoundUp16(width), RoundUp16(height));
    return true;
}

bool CMP4Parser::ParseShortHeader(CBitReader& bits) {
    bits.ReadBits(22);  // short_video_start_marker
    bits.ReadBits(8);   // temporal_reference
    if (bits.ReadBit() != 1 || bits.ReadBits(4) != 0) return false;
    const uint32_t format = bits.ReadBits(3);
    CPictureSize size;
    if (format != 7) {
        if (!StandardFormat(format, size) || bits.Overrun()) return false;
        m_exact = m_coded = size;
        return true;
    }
    if (bits.ReadBits(3) != 1) return false;  // update-full-extended-type
    const uint32_t extended = bits.ReadBits(3);
    if (extended != 6) {
        if (!StandardFormat(extended, size) || bits.Overrun()) return false;
        m_exact = m_coded = size;
        return true;
    }
    // Optional part of the extended type, then the mandatory part.
    bits.ReadBit();
    if (bits.ReadBits(3) != 0) return false;
    bits.ReadBits(3);
    if (bits.ReadBits(3) != 0) return false;
    bits.ReadBit();
    if (bits.ReadBits(4) != 0x8) return false;
    if (bits.ReadBits(3) >= 2) return false;  // picture type
    if (bits.ReadBits(2) != 0) return false;
    bits.ReadBit();
    if (bits.ReadBits(3) != 1) return false;
    if (bits.ReadBit() != 0) return false;
    // Custom picture format.
    if (bits.ReadBits(4) == 15) bits.ReadBits(16);  // extended pixel aspect ratio
    const uint32_t w = bits.ReadBits(9);
    if (bits.ReadBit() != 1) return false;
    const uint32_t h = bits.ReadBits(9);
    if (h == 0 || bits.Overrun()) return false;
    m_exact = CPictureSize(w * 4 + 4, h * 4);
    m_coded = CPictureSize(RoundUp16(m_exact.width), RoundUp16(m_exact.height));
    return true;
}

bool CMP4Parser::Finish(CPictureSize& size) const {
    if (m_coded.width == 0 || m_coded.height == 0) return false;
    if (m_coded.width > MAX_CODED_DIMENSION || m_coded.height > MAX_CODED_DIMENSION) return false;
    size = (m_exact.width > 0 && m_exact.height > 0) ? m_exact : m_coded;
    return true;
}

}  // namespace zentavo
