#include "camera/ParamExchange.h"

#include "web/HUtils.h"

namespace zentavo {

CResultDef ExchangeParameters(CBaslerRequest& request, const std::string& text,
                              Web::CHttpSender& sender, const std::string& deviceName) {
    std::string body;
    CResultDef result = HUtils::RequestGetRD(body, sender, text);
    if (result.m_code == RESULT_OK) result = request.ProcessResponse(body, deviceName);
    return result;
}

}  // namespace zentavo
