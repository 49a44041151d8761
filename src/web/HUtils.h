// One GET exchange with the device on a caller's sender, its outcome as a
// CResultDef (nothing is logged here; callers decide).
#pragma once

#include <string>

#include "web/HttpRequest.h"
#include "web/ResultDef.h"

namespace Web {
class CHttpSender;
}

namespace zentavo {
namespace HUtils {

// request is the path and query of a GET on the sender's device. The request
// handle stays open on the sender until its next request.
CResultDef& RequestGetRD(Web::ByteArray& body, Web::CHttpSender& sender, CResultDef& result,
                         const std::string& request);

// The body as a byte string, with the full outcome.
CResultDef RequestGetRD(std::string& body, Web::CHttpSender& sender, const std::string& request);

// The body as a byte string; true on success only.
bool RequestGet(std::string& body, Web::CHttpSender& sender, const std::string& request);

}  // namespace HUtils
}  // namespace zentavo
