// Parameter 4 names the camera lines behind the host's input and output
// indexes. Whatever the host stores there, the lists are what the strict
// readers make of it and reading never fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/BaslerIO.h"
#include "runtime/TextUtils.h"

using zentavo::IO_LINE_LISTS;
using zentavo::ParseIOLineLists;

namespace {

struct LineListCase {
    const char* text;
    std::vector<uint32_t> inputs;
    std::vector<uint32_t> outputs;
};

}  // namespace

TEST(IOLineLists, ReadsWhatTheStrictReadersYield) {
    const LineListCase cases[] = {
        {"input=0,1;output=2", {0, 1}, {2}},
        {"output=5", {}, {5}},
        {"input=0,1,2;output=5", {0, 1, 2}, {5}},
        {"output=3;input=33", {33}, {3}},
        {"input=0\r\noutput=1\r\n", {0}, {1}},
        {"input=0\toutput=1", {0}, {1}},
        {"input=0 output=1", {0}, {1}},
        // Malformed texts.
        {"input=a,,3;output=", {0, 0, 3}, {}},
        {"", {}, {}},
        {";;;", {}, {}},
        {"inputs=1;outputs=2", {}, {}},
        {"INPUT=1;Output=2", {}, {}},
        {"input;output", {}, {}},
        {"input=;output=", {}, {}},
        {"input = 1;output= 2", {}, {}},  // a blank ends the field before its value
        {" input=1", {1}, {}},
        {"input=1,", {1}, {}},
        {"input=,1", {0, 1}, {}},
        {"input=,,", {0, 0}, {}},
        {"input=-1,+2,0x3,1.5,4", {0, 0, 0, 0, 4}, {}},
        {"input=4294967295;output=4294967296", {4294967295u}, {0}},
        {"input=1=2", {0}, {}},
        {"output=7;output=8", {}, {7}},
        {"myinput=9;input=1", {1}, {}},
        {"input", {}, {}},
        {"=", {}, {}},
        {"input==", {0}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const IO_LINE_LISTS lists = ParseIOLineLists(c.text);
        EXPECT_EQ(lists.inputs, c.inputs);
        EXPECT_EQ(lists.outputs, c.outputs);
    }
}

TEST(IOLineLists, HugeNumbersAndLongListsAreReadPartByPart) {
    const std::string huge(40, '9');
    IO_LINE_LISTS lists = ParseIOLineLists("input=" + huge + ",7");
    ASSERT_EQ(lists.inputs.size(), 2u);
    EXPECT_EQ(lists.inputs[0], zentavo::ParseUnsignedStrict(huge));
    EXPECT_EQ(lists.inputs[1], 7u);

    std::string text = "output=";
    for (int i = 0; i < 10000; ++i) text += std::to_string(i % 64) + ",";
    lists = ParseIOLineLists(text);
    ASSERT_EQ(lists.outputs.size(), 10000u);
    EXPECT_EQ(lists.outputs[9999], 9999u % 64);
    EXPECT_TRUE(lists.inputs.empty());
}

TEST(IOLineLists, ArbitraryBytesNeverBreakTheReader) {
    // Every single byte and a sweep of short mixes around the key texts.
    std::string alphabet = "input=output,;0123456789 \t\r\n";
    alphabet.push_back('\0');
    alphabet.push_back('\xff');
    uint32_t seed = 12345;
    for (int round = 0; round < 5000; ++round) {
        std::string text;
        const int length = static_cast<int>(seed % 24);
        for (int i = 0; i < length; ++i) {
            seed = seed * 1103515245u + 12345u;
            text.push_back(alphabet[(seed >> 16) % alphabet.size()]);
        }
        seed = seed * 1103515245u + 12345u;
        const IO_LINE_LISTS lists = ParseIOLineLists(text);
        EXPECT_LE(lists.inputs.size(), text.size());
        EXPECT_LE(lists.outputs.size(), text.size());
    }
}
