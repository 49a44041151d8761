// RTSP reply reader: the input is cut into reads whose sizes come from the
// input itself; whatever arrives, the reader never holds more than its
// bounds, never takes more than it asked for, and a complete reply is
// exactly its head plus the announced body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "streaming/RTSPReplyReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    using zentavo::CRTSPReplyReader;
    const size_t step = 1 + data[0] % 64;
    const bool close = data[1] & 1;
    // Repeating the input lets a small input reach the head bound.
    const size_t repeat = (data[1] >> 1) % 40 == 0 ? 3000 : 1;
    const char* text = reinterpret_cast<const char*>(data + 2);
    const size_t length = size - 2;
    CRTSPReplyReader reader;
    for (size_t r = 0; r < repeat && length > 0; ++r) {
        size_t pos = 0;
        while (pos < length && reader.GetState() == CRTSPReplyReader::READING) {
            const size_t wanted = reader.BytesWanted();
            if (wanted == 0) abort();
            size_t n = step < wanted ? step : wanted;
            if (n > length - pos) n = length - pos;
            const size_t before = reader.Text().size();
            reader.Append(text + pos, n);
            if (reader.Text().size() > before + n) abort();
            pos += n;
        }
    }
    if (close) reader.Finish();
    if (reader.Text().size() > CRTSPReplyReader::MAX_HEAD_SIZE + CRTSPReplyReader::MAX_BODY_SIZE) abort();
    if (reader.GetState() != CRTSPReplyReader::READING && reader.BytesWanted() != 0) abort();
    return 0;
}
