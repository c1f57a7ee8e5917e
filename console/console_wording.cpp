/* The console's wording; see console_wording.h.
 *
 * Each phrase of the window is replaced wherever it stands, in table order;
 * a message without any of them is printed as it is. */
#include "console_wording.h"

#include <stdlib.h>

#include "deployment.h"
#include "text_utils.h"

struct Rewording {
    const char *window;
    std::string console;
};

static const Rewording REWORDINGS[] = {
    // a refused package: the guide's address instead of the question whether to open it
    {"\n\n\n是否需要进入官网查看详细操作指南？", std::string("\n\n详细操作指南：") + PRODUCT_SITE + "convert.html"},
    // no image source: the two flags that switch the sources off
    {"[搬来自淘宝图片空间里的图片] 与 [搬来自第三方相册里的图片] 至少需选择其中一项",
     "--no-image-space 与 --no-other-albums 不能同时使用，至少需搬其中一种来源的图片"},
    // the final advice: the failures are listed below, and the blank images are a flag
    {"在宝贝列表中选中搬家失败的宝贝，复制搬家失败的图片地址", "复制下面列出的搬家失败的图片地址"},
    {"开始搬家前在 [将搬家失败的图片替换成空白图片] 前面打上钩。", "搬家时加上 --blank-failed 选项。"},
};

/* Every occurrence of pattern in text replaced. */
static std::string replaced(const std::string &text, const char *pattern, const std::string &replacement) {
    char *result = replaceAll(text.c_str(), pattern, replacement.c_str());
    if (!result) return text;  // the pattern does not occur
    std::string out = result;
    free(result);
    return out;
}

std::string consoleWording(const char *windowText) {
    std::string text = windowText;
    for (const Rewording &r : REWORDINGS) text = replaced(text, r.window, r.console);
    return text;
}

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
        "不是图片：内容为空", "不是图片：格式不受支持", "该网站已连续失败5次，已跳过", "网站证书不受信任", "超时",
        "重定向过多或循环", "网站限制访问频率", "无法连接网站", "下载中断", "无法写入本地文件", "图片地址无法识别",
        "网站暂时不可用（503）", "图片被压缩传输",
    };
    static_assert(sizeof WORDS / sizeof *WORDS == REASON_COMPRESSED + 1, "a word for every reason");
    if (f.reason == REASON_STATUS) return formatText("HTTP %d%s", f.status, statusMeaning(f.status));
    return (unsigned)f.reason < sizeof WORDS / sizeof *WORDS ? WORDS[f.reason] : "";
}

std::string shownTitle(const char *title) {
    return replaced(title, "\"\"", "\"");
}
