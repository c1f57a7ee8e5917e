/* The words for failed links; see failure_words.h.
 *
 * The words say what the seller sees when the link is opened in a browser
 * ("a web page", "nothing") or what the seller can do about the host, not
 * how the download failed inside. */
#include "failure_words.h"

#include <stdlib.h>

#include "text_utils.h"

/* What the status says, for the few a seller meets most. */
static const char *statusMeaning(int status) {
    switch (status) {
    case 403: return "，网站拒绝访问";
    case 404: return "，图片不存在";
    case 410: return "，图片已删除";
    default: return status >= 500 ? "，网站出错" : "";
    }
}

std::string failureReasonText(const LinkFailure &f) {
    static const char *const WORDS[] = {
        "", "", "图片大于10MB", "不是图片：是一个网页", "不是图片：WebP 格式，淘宝不支持", "不是图片：AVIF 格式，淘宝不支持",
        "不是图片：SVG 矢量图，淘宝不支持", "不是图片：内容为空", "不是图片：格式不受支持", "该网站已连续失败5次，已跳过",
        "网站证书不受信任", "网站响应超时", "重定向过多或循环", "网站限制访问频率", "无法连接网站", "下载中断",
        "无法写入本地文件", "图片地址无法识别",
    };
    static_assert(sizeof WORDS / sizeof *WORDS == REASON_BAD_LINK + 1, "a word for every reason");
    if (f.reason == REASON_STATUS) return formatText("HTTP %d%s", f.status, statusMeaning(f.status));
    return (unsigned)f.reason < sizeof WORDS / sizeof *WORDS ? WORDS[f.reason] : "";
}

std::string failureNote(const FailureReasons &reasons, const char *link) {
    auto found = reasons.find(link);
    std::string words = found == reasons.end() ? "" : failureReasonText(found->second);
    return words.empty() ? "" : "  （" + words + "）";
}

std::string shownTitle(const char *title) {
    char *result = replaceAll(title, "\"\"", "\"");
    if (!result) return title;  // no doubled quote
    std::string out = result;
    free(result);
    return out;
}
