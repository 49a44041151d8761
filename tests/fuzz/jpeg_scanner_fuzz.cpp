// Motion JPEG scanner over a body cut into chunks: each record's bytes are
// one chunk, so the fuzzer controls where TCP would split the stream.
#include <cstddef>
#include <cstdint>

#include "parsers/FuzzHost.h"
#include "parsers/JpegMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace halvencap_fuzz;
    FuzzDriver driver;
    FuzzClient client;
    {
        zentavo::CJpegMediaParser parser(&driver);
        parser.SetClient(&client);
        RecordReader records(data, size);
        uint8_t flags;
        const uint8_t* bytes;
        size_t length;
        while (records.Next(flags, bytes, length)) {
            // Chunk sizes of one to a few bytes are where splitting bugs live.
            const size_t step = (flags & 0x0F) ? (flags & 0x0F) : length;
            for (size_t i = 0; i < length; i += step)
                parser.ProcessData(bytes + i, i + step <= length ? step : length - i);
        }
    }
    Require(driver.factory.outstanding == 0, "frames not released");
    return 0;
}
