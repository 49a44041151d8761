// Small facts read from the raw text of one RTSP answer that the session
// needs beyond the response record: the reason phrase, the methods the
// server says it supports, where a redirect points, and whether a refusal
// is about the transport.
#pragma once

#include <cstdint>
#include <string>

namespace zentavo {

// The status code of the first line, 0 when it has none.
uint32_t RtspStatusCode(const std::string& reply);

// The text after the status code of the first line, trimmed; empty when the
// line has none.
std::string RtspReasonPhrase(const std::string& reply);

// True when the reply carries a Public header (any case) and method is one
// of its comma-separated tokens; known is set when any Public header came.
bool RtspPublicLists(const std::string& reply, const std::string& method, bool& known);

// The Location header of a redirect, split into host, port (554 when the
// URL names none) and path with its leading "/"; false unless it is an
// rtsp:// URL with a host.
bool RtspRedirectTarget(const std::string& reply, std::string& host, uint16_t& port, std::string& path);

// A SETUP answer that refuses the transport asked for rather than the
// session: 461, 406, or another 4xx whose reason names the transport.
bool RtspRefusesTransport(uint32_t statusCode, const std::string& reasonPhrase);

}  // namespace zentavo
