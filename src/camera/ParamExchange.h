// One parameter exchange with the camera: the request text goes out as a GET
// on the caller's sender and, when the transport succeeded, the answer is
// parsed into the request. Callers decide about empty requests, stop
// requests and logging.
#pragma once

#include <string>

#include "camera/BaslerRequest.h"
#include "web/HttpSender.h"
#include "web/ResultDef.h"

namespace zentavo {

CResultDef ExchangeParameters(CBaslerRequest& request, const std::string& text,
                              Web::CHttpSender& sender, const std::string& deviceName);

}  // namespace zentavo
