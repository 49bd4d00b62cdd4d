// Reading the web service replies: decoding, the error table, and JSON that may be broken,
// of the wrong shape, or followed by text.

#include "platform/WebReplies.h"

#include <gtest/gtest.h>

TEST(DecodeReply, UndoesFormEncoding)
{
    const struct {
        std::string in;
        std::optional<std::string> out;
    } cases[] = {
        {"a+b", "a b"},
        {"%E8%AF%BE%2b", "课+"},
        {"100%%", "100%"},
        {"50% off", std::nullopt},
        {"%", std::nullopt},
        {"%4", std::nullopt},
        {"%zz", std::nullopt},
        {"plain", "plain"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DecodeReply(c.in), c.out) << c.in;
}

TEST(ErrorCodeText, NamesEveryCodeOfThePlatform)
{
    const struct {
        std::string reply, text;
    } cases[] = {
        {"ErrorCode=0", "成功"},
        {"ErrorCode=1", "没有此接口"},
        {"ErrorCode=2", "频道已用完"},
        {"ErrorCode=3", "参数不正确"},
        {"ErrorCode=4", "启动失败"},
        {"ErrorCode=5", "停止失败"},
        {"ErrorCode=6\r\nFileName=x", "会话ID错误"},
        {"Other=1\nErrorCode=104", "RTSP流连接错误"},
        {"errorcode=109\r\n", "未检测到该设备"},
        {"ErrorCode=7", "No such ErrorCode "},
        {"ErrorCode=x", "No such ErrorCode "},
        {"ErrorCode=", "No such ErrorCode "},
        {"{\"errorCode\":\"0\"}", "No such ErrorCode "},
        {"", "No such ErrorCode "},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ErrorCodeText(c.reply), c.text) << c.reply;
}

TEST(ReadAddVideoReply, ReadsTheRegistrationOutcome)
{
    const struct {
        const char *name;
        std::string reply;
        TAddVideoReply expected;
    } cases[] = {
        {"accepted", R"({"errorCode":"0","message":"ok","success":true,"list":{"id":"17"}}No such ErrorCode )",
         {"0", "ok", "true", "17"}},
        {"list as JSON text", R"({"errorCode":0,"message":"ok","success":true,"list":"{\"id\":18}"})",
         {"0", "ok", "true", "18"}},
        {"plus in a string", R"({"errorCode":"0","message":"a+b","success":true})", {"0", "a b", "true", ""}},
        {"refused", R"({"errorCode":"6","message":"会话ID错误","success":false}No such ErrorCode )",
         {"6", "会话ID错误", "false", ""}},
        {"plain error line", "ErrorCode=3参数不正确", {"55", "ErrorCode=3参数不正确", "false", ""}},
        {"stray percent", R"({"message":"50% done","success":true})",
         {"55", R"({"message":"50% done","success":true})", "false", ""}},
        {"array", "[1,2]No such ErrorCode ", {"55", "[1,2]No such ErrorCode ", "false", ""}},
        {"cut JSON", R"({"errorCode":"0","succ)", {"55", R"({"errorCode":"0","succ)", "false", ""}},
        {"failed request", "", {"55", "访问报错", "false", ""}},
    };
    for (const auto &c : cases) {
        const TAddVideoReply reply = ReadAddVideoReply(c.reply);
        EXPECT_EQ(reply.errorCode, c.expected.errorCode) << c.name;
        EXPECT_EQ(reply.message, c.expected.message) << c.name;
        EXPECT_EQ(reply.success, c.expected.success) << c.name;
        EXPECT_EQ(reply.id, c.expected.id) << c.name;
        EXPECT_EQ(IsTrue(reply.success), c.expected.success == "true") << c.name;
    }
    EXPECT_FALSE(IsTrue("True"));
    EXPECT_FALSE(IsTrue("true "));
}

TEST(ReadListReplies, SucceedOnlyOnAJsonObjectThatSaysSo)
{
    const TCategoryAndGradeReply lists = ReadCategoryAndGradeReply(
        R"({"errorCode":"0","message":"ok","success":true,"id":5,"data":{"Grade":{"gradeSection":[]}}})");
    EXPECT_TRUE(lists.success);
    EXPECT_EQ(lists.errorCode, "0");
    EXPECT_EQ(lists.id, "5");
    EXPECT_EQ(lists.data, R"({"Grade":{"gradeSection":[]}})");
    EXPECT_EQ(ReadCategoryAndGradeReply(R"({"success":true,"data":"{\"Grade\":1}"})").data, R"({"Grade":1})");

    for (const std::string broken : {"", "nonsense", R"({"success":true)", "[true]", R"({"success":"yes"})",
                                     R"({"success":true,"data":"100%"})"}) {
        EXPECT_FALSE(ReadCategoryAndGradeReply(broken).success) << broken;
        EXPECT_FALSE(ReadUserSystemReply(broken).success) << broken;
    }
    const TUserSystemReply check = ReadUserSystemReply(R"({"data":true,"success":true})");
    EXPECT_TRUE(check.data);
    EXPECT_TRUE(check.success);
    EXPECT_FALSE(ReadUserSystemReply(R"({"data":false,"success":true})").data);
}
