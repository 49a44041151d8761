// Session description parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "parsers/FuzzHost.h"
#include "streaming/SDPResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zentavo::CSDPResponseParser parser;
    parser.Parse(std::string(reinterpret_cast<const char*>(data), size));
    const auto& d = parser.Description();
    halvencap_fuzz::Require(d.parameterSet1.size() <= 256 && d.parameterSet2.size() <= 256 &&
                                d.configuration.size() <= 256,
                            "decoded set-up data above its limit");
    return 0;
}
