// MPEG-4 Visual configuration / short header reader.
#include <cstddef>
#include <cstdint>

#include "parsers/FuzzHost.h"
#include "parsers/MP4Parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zentavo::CMP4Parser parser;
    zentavo::CPictureSize picture;
    if (parser.ParseHeader(data, size, picture))
        halvencap_fuzz::Require(picture.width > 0 && picture.height > 0 && parser.CodedSize().width <= 32000 &&
                                    parser.CodedSize().height <= 32000,
                                "implausible picture size accepted");
    return 0;
}
