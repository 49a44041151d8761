#include "ChannelCallback.h"

namespace zentavo {
namespace cli {

bool ChannelCallback::OnFrame(ipcapture::IHostFrame* frame) {
    ++m_offered;
    // Called from inside the driver: nothing may be thrown back into it.
    try {
        HostFrame* ours = m_factory.Find(frame);
        if (ours != nullptr && ours->Size() != 0) {
            FrameInfo info = ours->Info();
            info.arrivalMs = ArrivalNowMs();
            if (m_recorder.Write(info, ours->Data(), ours->Size()) != Recorder::WriteResult::Failed) return true;
        }
    } catch (...) {
    }
    ++m_refused;
    return false;
}

}  // namespace cli
}  // namespace zentavo
