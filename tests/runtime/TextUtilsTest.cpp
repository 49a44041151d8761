#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/TextUtils.h"

using namespace zentavo;

namespace {

TEST(FormatString, MeasuresAndFormatsWithoutTruncation) {
    EXPECT_EQ(FormatString("%s-%d", "abc", 42), "abc-42");
    const std::string longText(10000, 'x');
    EXPECT_EQ(FormatString("[%s]", longText.c_str()), "[" + longText + "]");
    EXPECT_EQ(FormatString("%s", ""), "");
    EXPECT_EQ(FormatString("100%%"), "100%");
}

TEST(Trim, RemovesBlanksAndTabsOnly) {
    EXPECT_EQ(Trim(" \tabc \t"), "abc");
    EXPECT_EQ(Trim("abc\r\n"), "abc\r\n");
    EXPECT_EQ(Trim(""), "");
    EXPECT_TRUE(Trim(" \t ").find_first_not_of(" \t") == std::string::npos);
    EXPECT_EQ(Trim("a b"), "a b");
}

TEST(TextCopies, RemoveCharsAndCase) {
    EXPECT_EQ(RemoveChars("\r\n", "a\r\nb\n"), "ab");
    EXPECT_EQ(RemoveChars("", "a\r\nb"), "a\r\nb");
    EXPECT_EQ(ToLower("AbC-1\xC4"), "abc-1\xC4");
    EXPECT_EQ(ToUpper("AbC-1\xE4"), "ABC-1\xE4");
}

TEST(ParseInt, AcceptsSignedDecimalOnly) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {"-12", true, -12},       {"+7", true, 7},          {"0", true, 0},
        {"2147483647", true, 2147483647},  {"-2147483648", true, INT32_MIN},
        {"", false, 0},           {"-", false, 0},          {"+", false, 0},
        {"1 2", false, 0},        {" 3", false, 0},         {"3 ", false, 0},
        {"0x10", false, 0},       {"+-1", false, 0},        {"--1", false, 0},
        {"12a", false, 0},        {"2147483648", false, 0}, {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        int32_t out = 12345;
        EXPECT_EQ(ParseInt(c.text, out), c.ok) << c.text;
        EXPECT_EQ(out, c.value) << c.text;
    }
}

TEST(ParseUnsignedStrict, DigitsOnlyAndOverflowIsMalformed) {
    EXPECT_EQ(ParseUnsignedStrict("12a"), 0u);
    EXPECT_EQ(ParseUnsignedStrict(""), 0u);
    EXPECT_EQ(ParseUnsignedStrict("+1"), 0u);
    EXPECT_EQ(ParseUnsignedStrict(" 1"), 0u);
    EXPECT_EQ(ParseUnsignedStrict("4294967295"), 4294967295u);
    EXPECT_EQ(ParseUnsignedStrict("4294967296"), 0u);
    // Wrapping would turn this into 1; an oversized number is as bad as a
    // malformed one.
    EXPECT_EQ(ParseUnsignedStrict("4294967297"), 0u);
    EXPECT_EQ(ParseUnsignedStrict("00000000000000000000042"), 42u);
    EXPECT_EQ(ParseUnsignedStrict16("554"), 554);
    EXPECT_EQ(ParseUnsignedStrict16("65535"), 65535);
    EXPECT_EQ(ParseUnsignedStrict16("65536"), 0);
    EXPECT_EQ(ParseUnsignedStrict16("65616"), 0);  // never port 80
    EXPECT_EQ(ParseUnsignedStrict16("5x"), 0);
}

const char kRtsp[] = "X: 1\r\nSession: 12345678;timeout=60\r\n";

TEST(FindValue, ReturnsFirstMatchingFieldUntrimmed) {
    EXPECT_EQ(FindValue("Session", ":", kRtsp, ";\r\n"), " 12345678");
    EXPECT_EQ(FindValue("timeout", "=", kRtsp, ";\r\n"), "60");
    EXPECT_EQ(FindValueInt("timeout", "=", kRtsp, ";\r\n"), 60);
    EXPECT_EQ(FindValueInt("Session", ":", kRtsp, ";\r\n"), 12345678);
    EXPECT_EQ(FindValue("X", ":", kRtsp, ";\r\n"), " 1");
}

TEST(FindValue, NameMustMatchAfterTrimming) {
    // The key only inside a longer name.
    EXPECT_EQ(FindValue("Session", ":", "MySession: 5\r\n", "\r\n"), "");
    EXPECT_EQ(FindValue("Session", ":", "Session2: 5\r\n", "\r\n"), "");
    // Blanks around the name are fine; the value keeps its own blanks.
    EXPECT_EQ(FindValue("Return_0", "=", " \tReturn_0 \t= a=b \r\n", "\r\n"), " a=b ");
    EXPECT_EQ(FindValue("Return_0", "=", "Return_0=a=b\r\n", "\r\n"), "a=b");
    // The longer name first, the real field later.
    EXPECT_EQ(FindValue("Session", ":", "MySession: 5\r\nSession: 7\r\n", "\r\n"), " 7");
    // Case-sensitive.
    EXPECT_EQ(FindValue("session", ":", "Session: 7", "\r\n"), "");
}

TEST(FindValue, EmptyValueCountsAsNotFound) {
    EXPECT_EQ(FindValue("a", "=", "a=;a=2", ";"), "2");
    EXPECT_EQ(FindValue("a", "=", "a=", ";"), "");
    EXPECT_EQ(FindValueInt("a", "=", "a=", ";"), 0);
    EXPECT_EQ(FindValue("a", "=", "a", ";"), "");
}

TEST(FindValue, FindsFieldAfterAMentionWithoutSeparator) {
    // A status line naming the key must not hide the header after it.
    EXPECT_EQ(FindValue("Session", ":",
                        "RTSP/1.0 454 Session Not Found\r\nSession: 99\r\n", "\r\n"),
              " 99");
    EXPECT_EQ(FindValue("a", ":", "a;b;a: 5", ";"), " 5");
}

TEST(FindValue, EmptyArgumentsGiveEmpty) {
    EXPECT_EQ(FindValue("", ":", kRtsp, "\r\n"), "");
    EXPECT_EQ(FindValue("X", "", kRtsp, "\r\n"), "");
    EXPECT_EQ(FindValue("X", ":", kRtsp, ""), "");
    EXPECT_EQ(FindValue("X", ":", "", "\r\n"), "");
    // Key made of delimiter characters terminates.
    EXPECT_EQ(FindValue(";", "=", ";;;=;", ";"), "");
}

TEST(FindValue, MultiCharacterSeparator) {
    EXPECT_EQ(FindValue("k", "::", "k::v;x::y", ";"), "v");
    EXPECT_EQ(FindValue("k", "::", "k:v;k::w", ";"), "w");
}

TEST(Split, PiecesBetweenDelimiters) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Split("", ','), V{});
    EXPECT_EQ(Split("a,,b", ','), (V{"a", "", "b"}));
    EXPECT_EQ(Split("a,", ','), (V{"a"}));
    EXPECT_EQ(Split(",", ','), (V{""}));
    EXPECT_EQ(Split(",a", ','), (V{"", "a"}));
    EXPECT_EQ(Split("Fps_25_0", '_'), (V{"Fps", "25", "0"}));
}

std::string Encode(const std::string& plain, int capacity, bool* ok = nullptr) {
    std::vector<char> out(static_cast<size_t>(capacity > 0 ? capacity : 1), '#');
    int cap = capacity;
    const bool result = Base64Encode(reinterpret_cast<const uint8_t*>(plain.data()),
                                     static_cast<int>(plain.size()), out.data(), cap);
    if (ok) *ok = result;
    return result ? std::string(out.data(), static_cast<size_t>(cap)) : std::string();
}

// The exact room the encoder asks for.
int Required(const std::string& plain) {
    for (int cap = 0; cap < 100000; ++cap) {
        bool ok = false;
        Encode(plain, cap, &ok);
        if (ok) return cap;
    }
    return -1;
}

TEST(Base64Encode, RfcVectorsAndCapacity) {
    EXPECT_EQ(Encode("", 2), "");
    EXPECT_EQ(Encode("f", 10), "Zg==");
    EXPECT_EQ(Encode("fo", 10), "Zm8=");
    EXPECT_EQ(Encode("foo", 10), "Zm9v");
    EXPECT_EQ(Encode("foob", 10), "Zm9vYg==");
    EXPECT_EQ(Encode("fooba", 10), "Zm9vYmE=");
    EXPECT_EQ(Encode("foobar", 10), "Zm9vYmFy");
    EXPECT_EQ(Required("abc"), 6);
    EXPECT_EQ(Encode("abc", 6), "YWJj");
    bool ok = true;
    EXPECT_EQ(Encode("abc", 5, &ok), "");
    EXPECT_FALSE(ok);
}

TEST(Base64Encode, BreaksLinesAfterEvery76Characters) {
    // 57 bytes make exactly one line, which then ends with CR LF.
    const std::string line57(57, 'a');
    const std::string one = Encode(line57, 200);
    ASSERT_EQ(one.size(), 78u);
    EXPECT_EQ(one.substr(76), "\r\n");
    EXPECT_EQ(Required(line57), 80);  // the formula keeps room for one more break

    const std::string twoAndABit = Encode(std::string(115, 'a'), 400);
    // 115 bytes -> 156 characters: two full lines and four characters.
    ASSERT_EQ(twoAndABit.size(), 156u + 4u);
    EXPECT_EQ(twoAndABit.substr(76, 2), "\r\n");
    EXPECT_EQ(twoAndABit.substr(154, 2), "\r\n");
    EXPECT_EQ(twoAndABit.find('\r', 156), std::string::npos);

    // The exact room never falls short of what is written.
    for (int n = 0; n < 400; ++n) {
        const std::string plain(static_cast<size_t>(n), 'z');
        const int need = Required(plain);
        const std::string enc = Encode(plain, need);
        EXPECT_LE(static_cast<int>(enc.size()), need) << n;
        EXPECT_GE(need - static_cast<int>(enc.size()), 0) << n;
        EXPECT_LE(need - static_cast<int>(enc.size()), 4) << n;
    }
}

TEST(Base64Encode, RejectsBadArguments) {
    char out[16];
    int cap = 16;
    EXPECT_FALSE(Base64Encode(nullptr, 3, out, cap));
    EXPECT_FALSE(Base64Encode(reinterpret_cast<const uint8_t*>("abc"), 3, nullptr, cap));
    EXPECT_FALSE(Base64Encode(reinterpret_cast<const uint8_t*>("abc"), -1, out, cap));
    EXPECT_EQ(cap, 16);
}

std::string Decode(const std::string& text, int capacity, bool* ok = nullptr, int* total = nullptr) {
    std::vector<uint8_t> out(static_cast<size_t>(capacity > 0 ? capacity : 1), 0xEE);
    int cap = capacity;
    const bool result = Base64Decode(text.data(), static_cast<int>(text.size()), out.data(), cap);
    if (ok) *ok = result;
    if (total) *total = cap;
    const int shown = cap < capacity ? cap : capacity;
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(shown > 0 ? shown : 0));
}

TEST(Base64Decode, SkipsForeignCharactersAndHandlesShortGroups) {
    EXPECT_EQ(Decode("YW Jj\r\n", 16), "abc");
    EXPECT_EQ(Decode("YQ==", 16), "a");
    EXPECT_EQ(Decode("YWI=", 16), "ab");
    EXPECT_EQ(Decode("YWJjZ", 16), "abc");  // a lone trailing character yields nothing
    EXPECT_EQ(Decode("Zm9v\r\nYmFy", 16), "foobar");
    EXPECT_EQ(Decode(std::string("YWJj\0ZGVm", 9), 16), "abc");  // stops at zero byte
}

TEST(Base64Decode, ShortCapacityWritesInBoundsAndReportsTotal) {
    bool ok = true;
    int total = 0;
    EXPECT_EQ(Decode("Zm9vYmFy", 4, &ok, &total), "foob");
    EXPECT_FALSE(ok);
    EXPECT_EQ(total, 6);
    int cap = 4;
    EXPECT_FALSE(Base64Decode(nullptr, 4, nullptr, cap));
    cap = 0;
    EXPECT_FALSE(Base64Decode("Zm9v", 4, nullptr, cap));
    EXPECT_EQ(cap, 3);
}

TEST(Base64, RoundTripAllByteValues) {
    std::string plain;
    for (int i = 0; i < 256; ++i) plain.push_back(static_cast<char>(i));
    const std::string enc = Encode(plain, Required(plain));
    EXPECT_EQ(Decode(enc, 256), plain);
}

TEST(HexDecode, PairsAndOddTail) {
    std::vector<uint8_t> out{1, 2, 3};
    HexDecode("0A1", out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x0A, 0x01}));
    HexDecode("fF00", out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0x00}));
    HexDecode("zz", out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x00}));
    HexDecode("", out);
    EXPECT_TRUE(out.empty());
    HexDecode(std::string("4\0", 2), out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x40}));
}

TEST(Md5Hex, Rfc1321TestSuite) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
    // Lengths around the padding boundary (one or two final blocks).
    EXPECT_EQ(Md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(Md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(Md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(BasicCredentials, OneUnbrokenLineUpTo72Characters) {
    std::string out = "stale";
    EXPECT_TRUE(BasicCredentials("Aladdin", "open sesame", out));
    EXPECT_EQ(out, "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    // 72 characters encode to 96, more than one 76-character line.
    const std::string user(40, 'u');
    const std::string pass(31, 'p');
    EXPECT_TRUE(BasicCredentials(user, pass, out));
    EXPECT_EQ(out.size(), 96u);
    EXPECT_EQ(out.find_first_of("\r\n"), std::string::npos);
    EXPECT_FALSE(BasicCredentials(user, pass + "p", out));
    EXPECT_TRUE(out.empty());
}

TEST(FramesPerSecond, RoundsHalvesUp) {
    EXPECT_EQ(FramesPerSecond(40), 25u);
    EXPECT_EQ(FramesPerSecond(3), 333u);
    EXPECT_EQ(FramesPerSecond(0), 1u);
    EXPECT_EQ(FramesPerSecond(400), 3u);   // 2.5 -> 3
    EXPECT_EQ(FramesPerSecond(2001), 0u);  // 0.4998 -> 0
    EXPECT_EQ(FramesPerSecond(0xFFFFFFFFu), 0u);
    EXPECT_EQ(FramesPerSecond(1), 1000u);
}

}  // namespace
