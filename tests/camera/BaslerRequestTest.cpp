#include <gtest/gtest.h>

#include "camera/BaslerRequest.h"

using namespace zentavo;

namespace {

const char* const kProcess = "zentavo::CBaslerRequest::ProcessResponse";

std::string Msg(const std::string& text) { return std::string(kProcess) + ": " + text; }

TEST(BaslerRequestBuild, SelectorExampleRendersExactly) {
    CBaslerRequest request;
    request.AddSetValue("IO.IOSelector", 1u);
    request.AddGetValue("IO.Direction");
    EXPECT_EQ("/cgi-bin/param_if.cgi?NumActions=2&Action_0=IO.IOSelector.SetValue"
              "&Parameter_0_0=1&Action_1=IO.Direction.GetValue",
              request.BuildRequest());
}

TEST(BaslerRequestBuild, EmptyRequestRendersNothing) {
    CBaslerRequest request;
    EXPECT_EQ("", request.BuildRequest());
    request.AddGetValue("");
    request.AddAction("X", "", "1");
    EXPECT_EQ("", request.BuildRequest());
    EXPECT_TRUE(request.ProcessResponse("anything", "").Succeeded());
}

TEST(BaslerRequestBuild, DuplicateKeysKeepTheFirstAction) {
    CBaslerRequest request;
    request.AddGetValue("A");
    request.AddGetValue("A");
    request.AddSetValue("A", "one");
    request.AddSetValue("A", "two");
    ASSERT_EQ(2u, request.Actions().size());
    EXPECT_EQ("/cgi-bin/param_if.cgi?NumActions=2&Action_0=A.GetValue&Action_1=A.SetValue"
              "&Parameter_1_0=one",
              request.BuildRequest());
}

TEST(BaslerRequestBuild, RangeActionsAreConsecutiveAndValuesUnescaped) {
    CBaslerRequest request;
    request.AddGetRangeInc("Stream.Quality");
    request.AddGetEntries("Stream.EncoderType");
    request.AddAction("Streaming", "Commit", "a b&c");
    EXPECT_EQ("/cgi-bin/param_if.cgi?NumActions=5&Action_0=Stream.Quality.GetMin"
              "&Action_1=Stream.Quality.GetMax&Action_2=Stream.Quality.GetInc"
              "&Action_3=Stream.EncoderType.GetEntries&Action_4=Streaming.Commit"
              "&Parameter_4_0=a b&c",
              request.BuildRequest());
}

struct ResponseCase {
    const char* name;
    const char* body;
    const char* device;
    int code;
    int level;
    const char* message;
};

class BaslerRequestResponse : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(BaslerRequestResponse, Outcome) {
    const ResponseCase& c = GetParam();
    CBaslerRequest request;
    request.AddSetValue("IO.IOSelector", 1u);
    request.AddGetValue("IO.Direction");
    CResultDef result = request.ProcessResponse(c.body, c.device);
    EXPECT_EQ(c.code, result.m_code);
    EXPECT_EQ(c.level, result.m_level);
    EXPECT_EQ(std::string(c.message), result.m_text);
}

const std::string kEmpty = Msg("Incorrect response from the Basler IP device");
const std::string kEmptyNamed = Msg("Incorrect response from the cam:80");
const std::string kRefusedWithParam = Msg(
    "The cam:80 is unable to process \"IO.IOSelector.SetValue\" command with parameter \"1\", "
    "reason: out of range");
const std::string kRefusedNoParam = Msg(
    "The Basler IP device is unable to process \"IO.Direction.GetValue\" command, reason: busy");
const std::string kMissing0 = Msg(
    "Option \"IO.IOSelector.SetValue\" was not found in response from the Basler IP device");
const std::string kMissing1 = Msg(
    "Option \"IO.Direction.GetValue\" was not found in response from the cam:80");

INSTANTIATE_TEST_SUITE_P(
    Cases, BaslerRequestResponse,
    ::testing::Values(
        ResponseCase{"Answered", "Return_0=1\r\nReturn_1=Input\r\n", "", 0, 3, ""},
        ResponseCase{"EmptyBody", "", "", 12, 1, kEmpty.c_str()},
        ResponseCase{"EmptyBodyNamed", "", "cam:80", 12, 1, kEmptyNamed.c_str()},
        ResponseCase{"ExceptionWithParameter", "Exception_0=out of range\r\nReturn_1=x\r\n",
                     "cam:80", 13, 1, kRefusedWithParam.c_str()},
        ResponseCase{"ExceptionWithoutParameter", "Return_0=1\r\nException_1=busy\r\n", "", 13,
                     1, kRefusedNoParam.c_str()},
        ResponseCase{"NeitherReturnNorException", "Something=else\r\n", "", 13, 1,
                     kMissing0.c_str()},
        ResponseCase{"SecondOptionMissing", "Return_0=1\r\n", "cam:80", 13, 1,
                     kMissing1.c_str()},
        ResponseCase{"ExceptionWithEmptyReason", "Return_0=1\r\nException_1=\r\n", "cam:80",
                     13, 1, kMissing1.c_str()}),
    [](const ::testing::TestParamInfo<ResponseCase>& info) { return info.param.name; });

TEST(BaslerRequestResponse, ValuesAreReadFromTheirLines) {
    CBaslerRequest request;
    request.AddGetValue("A");
    request.AddGetValue("B");
    request.AddGetValue("C");
    request.AddGetRange("R");
    ASSERT_TRUE(request.ProcessResponse(" Return_0\t=a=b\r\nReturn_1=v \r\nReturn_2=\r\n"
                                        "Return_3=-5\r\nReturn_4=1.5\r\n", "").Succeeded());
    EXPECT_EQ("a=b", request.GetValue("A"));
    EXPECT_EQ("v ", request.GetValue("B"));
    EXPECT_EQ("", request.GetValue("C"));
    EXPECT_EQ("", request.GetValue("Unknown"));
    EXPECT_EQ("", request.GetResult("A", ""));
    PARAM_RANGE range = request.GetRange("R");
    EXPECT_EQ(0u, range.min);
    EXPECT_EQ(0u, range.max);
}

TEST(BaslerRequestResponse, AnswerToActionTenDoesNotStandInForActionOne) {
    CBaslerRequest request;
    for (int i = 0; i < 11; ++i)
        request.AddGetValue("P" + std::to_string(i));
    std::string body;
    for (int i = 0; i < 11; ++i) {
        if (i != 1)
            body += "Return_" + std::to_string(i) + "=v" + std::to_string(i) + "\r\n";
    }
    CResultDef result = request.ProcessResponse(body, "");
    EXPECT_EQ(13, result.m_code);
    EXPECT_EQ(Msg("Option \"P1.GetValue\" was not found in response from the Basler IP device"),
              result.m_text);

    body += "Return_1=v1\r\n";
    CBaslerRequest again;
    for (int i = 0; i < 11; ++i)
        again.AddGetValue("P" + std::to_string(i));
    EXPECT_TRUE(again.ProcessResponse(body, "").Succeeded());
    EXPECT_EQ("v1", again.GetValue("P1"));
    EXPECT_EQ("v10", again.GetValue("P10"));
}

TEST(BaslerRequestResponse, KeyMentionedOnlyInsideAValueIsNoAnswer) {
    CBaslerRequest request;
    request.AddGetValue("A");
    request.AddGetValue("B");
    CResultDef result = request.ProcessResponse("Return_0=Return_1\r\nReturn_1\r\n", "");
    EXPECT_EQ(13, result.m_code);
    EXPECT_EQ("Return_1", request.GetValue("A"));
}

TEST(BaslerRequestResponse, FailureLeavesLaterActionsUntouched) {
    CBaslerRequest request;
    request.AddGetValue("A");
    request.AddSetValue("B", "want");
    request.AddGetValue("C");
    CResultDef result = request.ProcessResponse("Return_0=x\r\nException_1=no\r\nReturn_2=c\r\n", "");
    EXPECT_EQ(13, result.m_code);
    EXPECT_EQ("x", request.GetValue("A"));
    EXPECT_EQ("want", request.GetResult("B", "SetValue"));
    EXPECT_EQ("", request.GetValue("C"));
}

TEST(BaslerRequestReaders, RangesAndEntries) {
    CBaslerRequest request;
    request.AddGetRangeInc("Q");
    request.AddGetRange("S");
    request.AddGetEntries("E");
    ASSERT_TRUE(request.ProcessResponse("Return_0=1\r\nReturn_1=100\r\nReturn_2=5\r\n"
                                        "Return_3=16\r\nReturn_4=4096\r\n"
                                        "Return_5=(0,\"MPEG4\")(1,\"H_264\")(2,\"\")\r\n", "")
                    .Succeeded());
    PARAM_RANGE q = request.GetRangeInc("Q");
    EXPECT_EQ(1u, q.min);
    EXPECT_EQ(100u, q.max);
    EXPECT_EQ(0u, q.reserved);
    EXPECT_EQ(5u, q.inc);
    PARAM_RANGE s = request.GetRange("S");
    EXPECT_EQ(16u, s.min);
    EXPECT_EQ(4096u, s.max);
    EXPECT_EQ(0u, s.inc);
    EXPECT_EQ(0u, request.GetRangeInc("").max);

    EntriesMap entries = request.GetEntries("E");
    EXPECT_EQ((EntriesMap{{"", 2}, {"H_264", 1}, {"MPEG4", 0}}), entries);
    EXPECT_EQ((EntryNameSet{"H_264", "MPEG4"}), request.GetEntryNames("E"));
    EXPECT_TRUE(request.GetEntries("").empty());
}

TEST(BaslerRequestReaders, AddChangedValuesWritesOnlyDifferences) {
    CBaslerRequest current;
    current.AddGetValue("Stream.EncoderType");
    current.AddGetValue("Stream.Quality");
    ASSERT_TRUE(current.ProcessResponse("Return_0=H_264\r\nReturn_1=50\r\n", "").Succeeded());

    CBaslerRequest target;
    EXPECT_FALSE(current.AddChangedValues(
        target, {{"Stream.EncoderType", "H_264"}, {"Stream.Quality", ""}, {"", "x"}}));
    EXPECT_TRUE(target.Empty());

    EXPECT_TRUE(current.AddChangedValues(
        target, {{"Stream.EncoderType", "h_264"}, {"Stream.Quality", "50"}, {"Unread", "1"}}));
    EXPECT_EQ("/cgi-bin/param_if.cgi?NumActions=2&Action_0=Stream.EncoderType.SetValue"
              "&Parameter_0_0=h_264&Action_1=Unread.SetValue&Parameter_1_0=1",
              target.BuildRequest());

    // Still reports the difference when the write is already queued.
    EXPECT_TRUE(current.AddChangedValues(target, {{"Unread", "2"}}));
    EXPECT_EQ(2u, target.Actions().size());
}

struct EntriesCase {
    const char* name;
    std::string text;
    EntriesMap expected;
};

class ParseEntriesCases : public ::testing::TestWithParam<EntriesCase> {};

TEST_P(ParseEntriesCases, Map) {
    EXPECT_EQ(GetParam().expected, ParseEntries(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseEntriesCases,
    ::testing::Values(
        EntriesCase{"TwoGroups", "(0,\"MPEG4\")(1,\"H_264\")", {{"H_264", 1}, {"MPEG4", 0}}},
        EntriesCase{"Empty", "", {}},
        EntriesCase{"NoParenthesis", "0,\"A\"", {}},
        EntriesCase{"UnclosedLastGroupIgnored", "(0,\"A\")(1,\"B\"", {{"A", 0}}},
        EntriesCase{"GroupNotClosedBeforeNext", "(0,\"A\")(1,\"B\"(2,\"C\")", {}},
        EntriesCase{"SpaceAfterComma", "(0,\"A\")(1, \"B\")", {}},
        EntriesCase{"NameWithSpaceIsCut", "(2,\"A B\")", {{"A", 2}}},
        EntriesCase{"EmptyGroupSkipped", "()(3,\"X\")", {{"X", 3}}},
        EntriesCase{"LaterDuplicateWins", "(0,\"A\")(5,\"A\")", {{"A", 5}}},
        EntriesCase{"TextBetweenGroupsIgnored", "(0,\"A\") junk (1,\"B\")", {{"A", 0}, {"B", 1}}},
        EntriesCase{"LeadingBlankBeforeIndex", "( 4,\"A\")", {{"A", 4}}},
        EntriesCase{"MissingName", "(0,\")", {}},
        EntriesCase{"MissingQuote", "(0,A)", {}},
        EntriesCase{"NegativeIndex", "(-1,\"A\")", {}},
        EntriesCase{"IndexOverflow", "(4294967296,\"A\")", {}},
        EntriesCase{"LargestIndex", "(4294967295,\"A\")", {{"A", 4294967295u}}},
        EntriesCase{"WordOf63", "(1,\"" + std::string(62, 'A') + "\")",
                    {{std::string(62, 'A'), 1}}},
        EntriesCase{"WordOf64", "(1,\"" + std::string(63, 'A') + "\")", {}},
        EntriesCase{"StrayCloseFirst", ")(0,\"A\")", {{"A", 0}}}),
    [](const ::testing::TestParamInfo<EntriesCase>& info) { return info.param.name; });

}  // namespace
