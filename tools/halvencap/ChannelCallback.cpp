#include "ChannelCallback.h"

namespace zentavo {
namespace cli {

bool ChannelCallback::OnFrame(ipcapture::IHostFrame* frame) {
    ++m_offered;
    HostFrame* ours = m_factory.Find(frame);
    if (ours == nullptr || ours->Size() == 0 ||
        m_recorder.Write(ours->Info(), ours->Data(), ours->Size()) == Recorder::WriteResult::Failed) {
        ++m_refused;
        return false;
    }
    return true;
}

}  // namespace cli
}  // namespace zentavo
