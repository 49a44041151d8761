// Four-letter frame codes, first letter in the least significant byte so
// that the word stored little-endian spells the code.
#pragma once

#include <cstdint>

namespace zentavo {

constexpr uint32_t MakeFrameCode(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}

constexpr uint32_t FRAME_CODE_JPEG = MakeFrameCode('J', 'P', 'E', 'G');
constexpr uint32_t FRAME_CODE_H264 = MakeFrameCode('H', '2', '6', '4');
constexpr uint32_t FRAME_CODE_I264 = MakeFrameCode('I', '2', '6', '4');
constexpr uint32_t FRAME_CODE_DIVX = MakeFrameCode('D', 'I', 'V', 'X');
constexpr uint32_t FRAME_CODE_DIVI = MakeFrameCode('D', 'I', 'V', 'I');

static_assert(FRAME_CODE_JPEG == 0x4745504A, "JPEG code");
static_assert(FRAME_CODE_H264 == 0x34363248, "H264 code");
static_assert(FRAME_CODE_I264 == 0x34363249, "I264 code");
static_assert(FRAME_CODE_DIVX == 0x58564944, "DIVX code");
static_assert(FRAME_CODE_DIVI == 0x49564944, "DIVI code");

// Largest access unit or picture a parser collects before giving up on it.
constexpr size_t MAX_FRAME_BUFFER_SIZE = 0xA00000;

}  // namespace zentavo
