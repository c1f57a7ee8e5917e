/* The update service's reply as the program reads it: the status word and the notice (cases in tests/data/shell),
 * the notice's conversion to GBK, and the warning shown for a reply the program does not understand. */
#include <gtest/gtest.h>

#include "test_support.h"
#include "update_notice.h"

TEST(UpdateReply, SplitsTheStatusWordFromTheNoticeAndMatchesItExactly) {
    for (const Case &c : readCases("shell/update_reply.tsv")) {
        UpdateReply reply = parseUpdateReply(c[0].c_str());
        const char *action[] = {"none", "offered", "required", "unrecognised"};
        EXPECT_EQ(reply.status + "|" + reply.notice + "|" + action[updateAction(reply.status)], c[1] + "|" + c[2] + "|" + c[3]) << c[0];
    }
}

TEST(UpdateReply, TheNoticeComesAsUtf8AndIsShownAsGbk) {
    const std::pair<std::string, std::string> cases[] = {
        {"Maintenance tonight", "Maintenance tonight"},  // as long as the buffer but for its end
        {u8"今晚系统维护，请提前保存数据包。", "今晚系统维护，请提前保存数据包。"}, {u8"v8.1 新功能", "v8.1 新功能"},
        {u8"笑\U0001F600脸", "笑脸"},  // no emoji in GBK
        {"ab\xFF" "cd", "abcd"},       // malformed bytes are skipped
        {u8"半\xE4", "半"}};            // cut inside a character
    for (const auto &c : cases) EXPECT_EQ(noticeText(c.first.c_str()), c.second) << c.second;
}

TEST(UpdateReply, AnUnrecognisedReplyIsShownAsReceivedUpToItsLimit) {
    const std::string warning = "检查软件新版本时返回无法识别的数据：\n\n", utf8 = u8"服务器错误";
    std::string limit(386, 'a');  // the most a warning shows
    for (const std::string &reply : {std::string("<html>502 Bad Gateway</html>"), std::string(), utf8, limit})
        EXPECT_EQ(unrecognisedReplyText(reply.c_str()), warning + reply);  // not converted
    EXPECT_EQ(unrecognisedReplyText((limit + std::string(1 << 20, 'z')).c_str()), warning + limit);
}
