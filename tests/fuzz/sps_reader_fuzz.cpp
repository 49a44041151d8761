// Sequence parameter set reader on an Annex B byte range.
#include <cstddef>
#include <cstdint>

#include "parsers/FuzzHost.h"
#include "parsers/SpsReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zentavo::CPictureSize picture;
    if (zentavo::CSpsReader::Read(data, size, picture))
        halvencap_fuzz::Require(picture.width > 0 && picture.height > 0 && picture.width <= 65536 &&
                                    picture.height <= 65536,
                                "implausible picture size accepted");
    return 0;
}
