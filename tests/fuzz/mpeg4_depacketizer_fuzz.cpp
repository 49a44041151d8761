// MPEG-4 depacketizer over a sequence of packets (see parsers/FuzzPackets.h).
#include <cstddef>
#include <cstdint>

#include "parsers/FuzzPackets.h"
#include "parsers/Mpeg4RTPMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace halvencap_fuzz;
    FuzzDriver driver;
    FuzzClient client;
    {
        zentavo::CMpeg4RTPMediaParser parser(&driver);
        parser.SetClient(&client);
        RunDepacketizer(parser, data, size);
    }
    Require(driver.factory.outstanding == 0, "frames not released");
    return 0;
}
