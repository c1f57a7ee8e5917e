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
