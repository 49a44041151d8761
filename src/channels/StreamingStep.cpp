#include "channels/StreamingStep.h"

#include "channels/StreamingSetup.h"

namespace zentavo {

bool ExecuteStreamingStep(CBaslerChannelHelper& helper, uint16_t& rtspPort) {
    CBaslerRequest read;
    AddStreamingReads(read, helper.StreamIndex());
    if (!helper.Execute(read)) return false;
    ReadRtspPort(read, rtspPort);
    CBaslerRequest write;
    if (!AddStreamingWrites(read, write)) return true;
    return helper.Execute(write);
}

}  // namespace zentavo
