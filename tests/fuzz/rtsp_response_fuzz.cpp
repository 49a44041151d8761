// RTSP response parser: the first byte picks the request method, the rest
// is split in two responses parsed by one parser (it keeps state between
// responses).
#include <cstddef>
#include <cstdint>
#include <string>

#include "streaming/RTSPResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int method = 1 + data[0] % 6;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t half = text.find("\r\n\r\n");
    zentavo::CRTSPResponseParser parser;
    if (half != std::string::npos) {
        parser.ParseResponse(text.substr(0, half + 4), method);
        parser.ParseResponse(text.substr(half + 4), method == 1 ? 2 : 1);
    } else {
        parser.ParseResponse(text, method);
    }
    parser.Reset();
    return 0;
}
