// Free functions on byte strings shared by every text protocol of the driver:
// exact-size formatting, trimming, the keyed-value lookup, strict number
// readers, splitting, Base64, hex and MD5. All pure except ResolveHost.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

namespace zentavo {

std::string FormatString(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string FormatStringV(const char* format, va_list args);

// Blanks are space and tab only; CR and LF are kept.
std::string Trim(const std::string& s);
std::string RemoveChars(const std::string& set, const std::string& s);
std::string ToLower(const std::string& s);
std::string ToUpper(const std::string& s);

// Optional single sign, then decimal digits only. out is 0 on failure.
bool ParseInt(const std::string& s, int32_t& out);
// Digits only; anything else (or empty) gives 0. Modulo 2^32 / 2^16.
uint32_t ParseUnsignedStrict(const std::string& s);
uint16_t ParseUnsignedStrict16(const std::string& s);

// Keyed-value lookup: the first field (between delimiter characters) whose
// trimmed name equals key and whose value after the separator is non-empty.
// The value is returned untrimmed.
std::string FindValue(const std::string& key, const std::string& separator,
                      const std::string& text, const std::string& delimiters);
int32_t FindValueInt(const std::string& key, const std::string& separator,
                     const std::string& text, const std::string& delimiters);

std::vector<std::string> Split(const std::string& s, char delimiter);

// RFC 4648 with CR LF after every 76 characters. capacity in: room in out,
// out: characters written. False (nothing written) when the room is short.
bool Base64Encode(const uint8_t* data, int count, char* out, int& capacity);
// Skips every character outside the alphabet; capacity out: decoded length.
bool Base64Decode(const char* text, int length, uint8_t* out, int& capacity);
void HexDecode(const std::string& s, std::vector<uint8_t>& out);
std::string Md5Hex(const std::string& s);
bool BasicCredentials(const std::string& user, const std::string& password,
                      std::string& out);
uint32_t FramesPerSecond(uint32_t intervalMs);

#ifdef _WIN32
// IPv4 address in network byte order; 0 when the name does not resolve.
uint32_t ResolveHost(const std::string& name);
#endif

}  // namespace zentavo
