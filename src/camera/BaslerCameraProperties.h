// The capability probe of this camera family: logs in, reads the system
// information, the sensor area, frame rates, compressions and picture sizes
// of the first stream and the direction of every I/O line, all over the
// parameter interface, and adds the family's four text groups. Reading the
// stream capabilities needs the camera in "Configure" mode; a camera found
// in "Normal" is switched for the reading and back afterwards.
#pragma once

#include <cstdint>
#include <string>

#include "camera/BaslerRequest.h"
#include "capability/BaseCameraProperties.h"
#include "web/HttpSender.h"

namespace zentavo {

class CBaslerCameraProperties : public CBaseCameraProperties {
public:
    CBaslerCameraProperties(uint32_t videoStandard, const DEVICE_INFO& device);
    ~CBaslerCameraProperties() override = default;

    void Cancel() override;
    bool WriteGroups(ipcapture::ICapabilityResults* sink) override;
    bool FetchProperties(int32_t& code) override;

    const std::string& AoiText() const { return aoiText; }
    const std::string& IoText() const { return ioText; }

    // One login endpoint request: true when the camera confirmed method;
    // body then holds its answer without apostrophes, otherwise empty.
    bool RequestAuthMethod(std::string& body, const std::string& method);
    // The camera accepts the credentials and its login is enabled (asking
    // it to enable when it reports otherwise).
    bool CheckLogin();
    // True when the camera answered every action of request.
    bool ExecuteRequest(CBaslerRequest& request);

private:
    bool ReadSystemInfo();
    bool ReadStreamCapabilities();
    bool ReadSensorArea(const CBaslerRequest& request);
    bool ReadFrameRates(const CBaslerRequest& request);
    bool ReadStreams(const CBaslerRequest& request);
    bool ReadEncoders(const CBaslerRequest& request);
    bool ReadFrameSizes(const EntryNameSet& sizes);
    bool ReadIOConfiguration();
    bool ReadIOLines(const PARAM_RANGE& range);
    bool SwitchOperationMode(const char* mode);
    // Restoring exchanges after a failure must not change its code.
    void KeepFailureStatus();
    bool LastExchangeAnswered() const { return httpSender.StatusCode() != 0; }

    Web::CHttpSender httpSender;
    bool normalMode = true;
    std::string aoiText;
    std::string ioText;
    // The HTTP status that decides the failure code when an exchange made
    // after the failing one (restoring the operation mode) replaced it.
    bool m_failureStatusKept = false;
    uint32_t m_failureStatus = 0;
};

}  // namespace zentavo
