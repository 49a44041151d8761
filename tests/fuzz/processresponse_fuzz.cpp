// Camera answers to a parameter request: any bytes must give a result code
// and readable results, never a crash or a read outside the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "camera/BaslerRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks how many actions (up to 15) the request carries.
    const unsigned actions = data[0] & 0x0F;
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);

    zentavo::CBaslerRequest request;
    for (unsigned i = 0; i < actions; ++i) {
        const std::string name = "P" + std::to_string(i);
        switch (i % 4) {
        case 0: request.AddGetValue(name); break;
        case 1: request.AddSetValue(name, i); break;
        case 2: request.AddGetRangeInc(name); break;
        default: request.AddGetEntries(name); break;
        }
    }
    const std::string text = request.BuildRequest();
    zentavo::CResultDef result = request.ProcessResponse(body, "");
    if (result.m_code != 0 && result.m_code != 12 && result.m_code != 13)
        abort();
    if (result.m_code != 0 && result.m_text.empty())
        abort();
    for (unsigned i = 0; i < actions; ++i) {
        const std::string name = "P" + std::to_string(i);
        (void)request.GetValue(name);
        (void)request.GetRangeInc(name);
        for (const auto& entry : request.GetEntries(name)) {
            if (entry.first.size() > 63 || entry.first.find('"') != std::string::npos)
                abort();
        }
        (void)request.GetEntryNames(name);
    }
    (void)text;
    return 0;
}
