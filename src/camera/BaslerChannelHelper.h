// Second base of every video channel of this camera family: brings the
// camera's first stream to the requested settings before each connection,
// reading everything in one request, writing only what differs and switching
// between "Configure" and "Normal" around the writes. It also owns the HTTP
// sender the channel uses for its own requests.
#pragma once

#include <cstdint>
#include <string>

#include "camera/BaslerRequest.h"
#include "channels/StreamSettings.h"
#include "host/DeviceInfo.h"
#include "host/LoggerInstance.h"
#include "web/HttpSender.h"

namespace zentavo {

class CBaslerChannelHelper : public CLoggerInstance {
public:
    explicit CBaslerChannelHelper(IDriver* driver);
    ~CBaslerChannelHelper() override;

    virtual bool IsStopRequested() = 0;
    virtual std::string GetEncoderType() = 0;
    virtual STREAM_SETTINGS GetStreamSettings() = 0;

    // True when the camera is configured (or needed nothing).
    bool ConfigureStream();
    // One parameter exchange on the own sender; failures are logged here.
    bool Execute(CBaslerRequest& request);
    static void AddStreamReads(CBaslerRequest& request);

    Web::CHttpSender& Sender() { return m_sender; }
    uint32_t StreamIndex() const { return m_streamIndex; }

protected:
    DEVICE_INFO m_device;
    std::string m_areaOfInterest;
    uint32_t m_streamIndex = 0;
    Web::CHttpSender m_sender;

private:
    bool SensorStep(CBaslerRequest& target, const CBaslerRequest& current);
    bool EncoderStep(const CBaslerRequest& current);
    bool OutputSizeStep(const CBaslerRequest& current, bool& needNormal);
};

}  // namespace zentavo
