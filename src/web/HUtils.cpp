#include "web/HUtils.h"

#include "runtime/LogLevels.h"
#include "runtime/TextUtils.h"
#include "web/HttpSender.h"

namespace zentavo {
namespace HUtils {

namespace {
const char* const kRequestGetRD = "zentavo::HUtils::RequestGetRD";
}

CResultDef& RequestGetRD(Web::ByteArray& body, Web::CHttpSender& sender, CResultDef& result,
                         const std::string& request) {
    result.Set(LOG_INFO, RESULT_OK, std::string());
    const DEVICE_INFO& device = sender.GetDeviceInfo();
    const std::string deviceText =
        FormatString("device %s:%u", device.address.c_str(), static_cast<unsigned>(device.port));

    Web::HTTP_REQUEST get("GET", request);
    body.clear();

    if (sender.SendRequest(get) && sender.m_statusCode != 0) {
        if (sender.m_statusCode / 100 != 2) {
            result.SetFormatted(LOG_ERROR, RESULT_BAD_STATUS,
                                "%s: %s does not process request \"%s\", status code = %u",
                                kRequestGetRD, deviceText.c_str(), request.c_str(),
                                static_cast<unsigned>(sender.m_statusCode));
        }
    } else {
        result.SetFormatted(LOG_SILENT, RESULT_NOT_SENT, "%s: cannot send request \"%s\" to %s",
                            kRequestGetRD, request.c_str(), deviceText.c_str());
    }

    if (result.m_code == RESULT_OK && sender.ReadBody(body) == 0) {
        result.SetFormatted(LOG_ERROR, RESULT_BAD_RESPONSE,
                            "%s: incorrect response for request \"%s\" from %s", kRequestGetRD,
                            request.c_str(), deviceText.c_str());
    }
    return result;
}

CResultDef RequestGetRD(std::string& body, Web::CHttpSender& sender, const std::string& request) {
    Web::ByteArray bytes;
    CResultDef result;
    RequestGetRD(bytes, sender, result, request);
    body.assign(bytes.begin(), bytes.end());
    return result;
}

bool RequestGet(std::string& body, Web::CHttpSender& sender, const std::string& request) {
    return RequestGetRD(body, sender, request).Succeeded();
}

}  // namespace HUtils
}  // namespace zentavo
