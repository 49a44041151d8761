// Motion JPEG over one long HTTP response: configure the camera, GET its live
// multipart stream, feed the body to the JPEG scanner and hand every picture
// to the host. Reconnects after every failure; reports a lost signal when no
// picture has arrived for the stream time-out.
#pragma once

#include "camera/BaslerChannelHelper.h"
#include "channels/BaseCameraChannel.h"
#include "channels/IMediaParserClient.h"
#include "parsers/JpegMediaParser.h"
#include "web/HttpRequest.h"

namespace zentavo {

class CMJPEGChannelHTTP : public CBaseCameraChannel, public CBaslerChannelHelper, public IMediaParserClient {
public:
    static const char* const kStreamResource;

    CMJPEGChannelHTTP(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback);
    ~CMJPEGChannelHTTP() override;

    // CBaseCameraChannel
    uint32_t Run() override;
    void Interrupt() override;

    // CBaslerChannelHelper
    bool IsStopRequested() override { return m_stopEvent.IsSet(); }
    std::string GetEncoderType() override { return "JPEG"; }
    STREAM_SETTINGS GetStreamSettings() override { return m_settings; }

    // IMediaParserClient
    bool OnFrameReady(ipcapture::IHostFrame* frame) override;
    std::pair<uint32_t, uint32_t> GetRequestedSize() override;
    void GetSourceName(std::string& name) override;
    void GetCaptureTime(uint32_t rtpTimestamp, SYSTEMTIME& time) override;

private:
    bool OpenStream();
    void ReadLoop();
    bool IsSignalLost();

    // Fed on the sender's reading thread while ReadLoop waits: one thread
    // at a time, never both.
    CJpegMediaParser m_parser;
};

}  // namespace zentavo
