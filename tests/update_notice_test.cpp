/* The update service's reply as the program reads it: the status word and
 * the notice, the notice's conversion to GBK, and the warning shown for a
 * reply the program does not understand. */
#include <gtest/gtest.h>

#include <string>

#include "shell_state.h"
#include "update_notice.h"

/* The window's state, defined by the window in the program; the shell
 * parts under test only refer to it. */
HWND mainWindow;
Controls controls;
char appDir[PATH_SIZE];

static const std::string WARNING_LINE = "检查软件新版本时返回无法识别的数据：\n\n";

TEST(UpdateReply, SplitsTheStatusWordFromTheNotice) {
    struct Case { const char *body, *status, *notice; };
    const Case cases[] = {
        {"true^New look^ignored^too", "true", "New look"},
        {"false", "false", ""},
        {"must^", "must", ""},
        {"^only a notice", "", "only a notice"},
        {"", "", ""},
        {"false^^second is empty", "false", ""},
    };
    for (const Case &c : cases) {
        UpdateReply reply = parseUpdateReply(c.body);
        EXPECT_EQ(reply.status, c.status) << c.body;
        EXPECT_EQ(reply.notice, c.notice) << c.body;
    }
    const char *body = "true^a";
    parseUpdateReply(body);
    EXPECT_STREQ(body, "true^a");  // the reply is read from a copy
}

TEST(UpdateReply, MatchesTheStatusWordWholeAndExactly) {
    EXPECT_EQ(updateAction("false"), UPDATE_NONE);
    EXPECT_EQ(updateAction("true"), UPDATE_OFFERED);
    EXPECT_EQ(updateAction("must"), UPDATE_REQUIRED);
    for (const char *word : {"", "True", "MUST", "true ", "true\r\n", "falsey", "tru", "<html>"})
        EXPECT_EQ(updateAction(word), UPDATE_UNRECOGNISED) << word;
}

TEST(UpdateReply, TheNoticeComesAsUtf8AndIsShownAsGbk) {
    EXPECT_EQ(noticeText("Maintenance tonight"), "Maintenance tonight");  // as long as the buffer but for its end
    EXPECT_EQ(noticeText("x"), "x");
    EXPECT_EQ(noticeText(u8"今晚系统维护，请提前保存数据包。"), "今晚系统维护，请提前保存数据包。");
    EXPECT_EQ(noticeText(u8"v8.1 新功能"), "v8.1 新功能");
    EXPECT_EQ(noticeText(u8"笑\U0001F600脸"), "笑脸");  // no emoji in GBK
    EXPECT_EQ(noticeText("ab\xFF" "cd"), "abcd");        // malformed bytes are skipped
    EXPECT_EQ(noticeText(u8"半\xE4"), "半");              // cut inside a character
}

TEST(UpdateReply, AnUnrecognisedReplyIsShownAsReceivedUpToItsLimit) {
    EXPECT_EQ(unrecognisedReplyText("<html>502 Bad Gateway</html>"), WARNING_LINE + "<html>502 Bad Gateway</html>");
    EXPECT_EQ(unrecognisedReplyText(""), WARNING_LINE);
    std::string utf8 = u8"服务器错误";
    EXPECT_EQ(unrecognisedReplyText(utf8.c_str()), WARNING_LINE + utf8);  // not converted

    std::string limit(UNRECOGNISED_SHOWN_BYTES, 'a');
    EXPECT_EQ(unrecognisedReplyText(limit.c_str()), WARNING_LINE + limit);
    EXPECT_EQ(unrecognisedReplyText((limit + "bcd").c_str()), WARNING_LINE + limit);
    std::string huge(1 << 20, 'z');
    EXPECT_EQ(unrecognisedReplyText(huge.c_str()).size(), WARNING_LINE.size() + UNRECOGNISED_SHOWN_BYTES);
}
