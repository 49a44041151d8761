#include "host/IPVideoCapture.h"

namespace zentavo {

CIPVideoCapture::CIPVideoCapture(IVideoChannelCreator* creator, uint32_t channelCount)
    : m_creator(creator), m_channels(channelCount, {nullptr, nullptr}) {}

CIPVideoCapture::~CIPVideoCapture() {
    for (uint32_t i = 0; i < m_channels.size(); ++i) StopChannel(i);
}

void* CIPVideoCapture::DeletingDestructor(unsigned flags) {
    if (flags & 1) {
        delete this;
    } else {
        this->~CIPVideoCapture();
    }
    return this;
}

uint32_t CIPVideoCapture::GetChannelCount() { return static_cast<uint32_t>(m_channels.size()); }

bool CIPVideoCapture::StartChannel(uint32_t index, ipcapture::IChannelCallback* callback,
                                   ipcapture::IChannelConfig* config) {
    // The host's call: nothing thrown inside may reach it.
    try {
        return StartChannelEntry(index, callback, config);
    } catch (...) {
        return false;
    }
}

bool CIPVideoCapture::StartChannelEntry(uint32_t index, ipcapture::IChannelCallback* callback,
                                        ipcapture::IChannelConfig* config) {
    if (index >= GetChannelCount()) return false;
    StopChannel(index);

    STREAM_SETTINGS settings;
    bool companionWanted = false;
    if (config != nullptr) {
        if (ipcapture::IStreamPart* stream = config->GetStreamPart()) {
            settings.frameIntervalMs = stream->GetFrameInterval();
            settings.quality = stream->GetQuality();
            companionWanted = stream->GetCompanionWanted() != 0;
        }
        if (ipcapture::IPicturePart* picture = config->GetPicturePart()) {
            if (ipcapture::IPictureSize* size = picture->GetPictureSize()) {
                settings.width = size->GetWidth();
                settings.height = size->GetHeight();
            }
        }
    }

    ICameraChannel* channel = m_creator != nullptr ? m_creator->CreateChannel(index, callback) : nullptr;
    if (channel == nullptr) return false;
    bool result = false;
    try {
        result = channel->Start(settings);
    } catch (...) {
        // Kept in the table like any channel that failed to start, so that
        // StopChannel releases whatever it made.
        result = false;
    }

    IChannelCompanion* companion = nullptr;
    if (result && companionWanted) {
        companion = m_creator->CreateCompanion(index, callback);
        if (companion != nullptr) result = companion->Start();
    }

    CLockGuard guard(m_lock);
    m_channels[index] = {channel, companion};
    return result;
}

bool CIPVideoCapture::StopChannel(uint32_t index) {
    std::pair<ICameraChannel*, IChannelCompanion*> entry{nullptr, nullptr};
    {
        CLockGuard guard(m_lock);
        if (index < m_channels.size()) {
            entry = m_channels[index];
            m_channels[index] = {nullptr, nullptr};
        }
    }
    if (entry.second != nullptr) {
        entry.second->Stop();
        delete entry.second;
    }
    if (entry.first != nullptr) {
        entry.first->Stop();
        delete entry.first;
    }
    return entry.first != nullptr || entry.second != nullptr;
}

ICameraChannel* CIPVideoCapture::FindChannel(uint32_t index) {
    CLockGuard guard(m_lock);
    return index < m_channels.size() ? m_channels[index].first : nullptr;
}

bool CIPVideoCapture::ChangeChannel(uint32_t index, ipcapture::IPictureSize* size,
                                    uint32_t frameIntervalMs) {
    ICameraChannel* channel = FindChannel(index);
    if (channel == nullptr) return false;
    STREAM_SETTINGS settings;
    settings.frameIntervalMs = frameIntervalMs;
    settings.quality = 0;  // the channel keeps its own
    if (size != nullptr) {
        settings.width = size->GetWidth();
        settings.height = size->GetHeight();
    }
    return channel->Restart(settings);
}

bool CIPVideoCapture::GetChannelState(uint32_t index, int32_t* state, int32_t* errorCode,
                                      char* text, uint32_t textSize) {
    if (errorCode != nullptr) *errorCode = 0;
    if (textSize > 0 && text != nullptr) text[0] = '\0';
    // The lock stays held across these quick queries: a host polling the
    // state while another of its threads stops the channel must not reach a
    // deleted channel.
    CLockGuard guard(m_lock);
    ICameraChannel* channel = index < m_channels.size() ? m_channels[index].first : nullptr;
    if (channel == nullptr) return false;
    int32_t current = channel->GetState();
    if (current == CAMERA_STOPPED) current = CAMERA_SIGNAL_LOST;
    if (state != nullptr) *state = current;
    return true;
}

bool CIPVideoCapture::GetChannelOptionB(uint32_t index) {
    CLockGuard guard(m_lock);
    ICameraChannel* channel = index < m_channels.size() ? m_channels[index].first : nullptr;
    return channel != nullptr && channel->GetOptionB();
}

bool CIPVideoCapture::GetChannelOptionA(uint32_t index) {
    CLockGuard guard(m_lock);
    ICameraChannel* channel = index < m_channels.size() ? m_channels[index].first : nullptr;
    return channel != nullptr && channel->GetOptionA();
}

}  // namespace zentavo
