/* The move job's texts; see move_wording.h.
 *
 * The advice is put together from a few fixed phrases, by whether every
 * failed link, none or some may be fetched by moving again; the kinds of
 * failure it names come from failure_words.h. */
#include "move_wording.h"

#include <stdio.h>

#include "failure_words.h"
#include "text_utils.h"

const char NO_NEW_FILE[] = "图片搬家失败：无法创建新文件。";
const char NO_NEW_FILE_FATAL[] = "图片搬家中断：无法创建新文件。\n\n可以对刚才的数据包(csv)文件再搬家一次，"
                                 "如果还是出现类似问题请联系我们的客服。";
const char FATAL_CAPTION[] = "错误";

std::string progressLabel(int itemCount, int done, const char *suffix) {
    return formatText("搬家进度(宝贝数:%d, 已搬家宝贝数:%d)%s", itemCount, done, suffix);
}

std::string rewritingSuffix(int percent) {
    return percent < 0 ? ", 正在更新csv文件..." : formatText(", 正在更新csv文件...(%d%%)", percent);
}

std::string failureLogLine(const char *url, const char *errMsg) {
    char line[FAILURE_LOG_SIZE];  // a long link and message are cut to the line
    snprintf(line, sizeof line, "搬家失败：%s，返回的错误信息：\r\n%s", url, errMsg);
    return line;
}

/* What to do about the failed links: moving again only for those it may
 * fetch, a blank image or another picture for the rest. */
static std::string failureAdvice(const OutcomeCounts &c) {
    static const char BLANK[] = "注意：开始搬家前在 [将搬家失败的图片替换成空白图片] 前面打上钩。";
    static const char AGAIN[] = "请再次对csv文件进行1到2次的搬家，如果依然提示搬家失败，请联系我们的客服。";
    std::string never = "再次搬家也不会成功（" + failureKindWords(c.kinds, 0) + "），请换用能正常显示的图片，" +
                        "或者再次对csv文件进行搬家，";
    std::string check = "解决办法：在宝贝列表中选中搬家失败的宝贝，复制搬家失败的图片地址到浏览器中检查能否正常显示。\n\n";
    int final = c.failed - c.failedAgain;
    if (final == 0)
        return check + "1.如果在浏览器中都不能显示，请再次对csv文件进行搬家，" + BLANK +
               "\n\n2.如果搬家失败的图片地址在浏览器中打开能正常显示图片，" + AGAIN;
    if (c.failedAgain == 0) return check + "这些图片" + never + BLANK;
    return check + formatText("1.其中 %d 张图片", final) + never + BLANK +
           formatText("\n\n2.其余 %d 张图片（%s），", c.failedAgain, failureKindWords(c.kinds, 1).c_str()) + AGAIN;
}

/* A word on the kept links whose picture other links of their host share. */
static std::string sharedNote(const OutcomeCounts &c) {
    if (!c.shared) return "";
    return formatText("\n\n注意：有 %d 张图片与同一网站其他图片地址下载到的图片完全相同，可能是该网站的防盗链图片，"
                      "请检查这些宝贝的图片能否正常显示。", c.shared);
}

FinalMessage finalMessage(const char *packageName, int changed, int blankForFailed, const OutcomeCounts &c) {
    int warn = changed ? c.failed > 0 && !blankForFailed : c.failed > 0;
    std::string text, done = formatText("图片搬家已完成，数据包(%s)已更新。", packageName) + sharedNote(c);
    if (changed && !warn)
        text = done;
    else if (changed)
        text = done + "\n\n注意：有部分图片搬家失败！\n\n\n" + failureAdvice(c);
    else
        text = warn ? "图片搬家失败，没有找到搬家成功的图片。\n\n\n" + failureAdvice(c) : "没有找到需要搬家的图片。";
    int notice = warn || (changed && c.shared);
    return {text, notice ? "提示" : "完成", notice ? MESSAGE_WARNING : MESSAGE_INFO};
}
