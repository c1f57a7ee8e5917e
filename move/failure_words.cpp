/* The words for failed links; see failure_words.h.
 *
 * The words say what the seller sees when the link is opened in a browser
 * ("a web page", "nothing") or what the seller can do about the host, not
 * how the download failed inside. The advice's kinds stand in one table,
 * in the order the advice names them: the kinds moving again will not
 * mend first, then those it may. */
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
        "无法写入本地文件", "图片地址无法识别", "网站暂时不可用（503）", "图片被压缩传输",
    };
    static_assert(sizeof WORDS / sizeof *WORDS == REASON_COMPRESSED + 1, "a word for every reason");
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

namespace {

enum FailureKind {
    KIND_MISSING, KIND_REFUSED, KIND_NOT_IMAGE, KIND_TOO_LARGE, KIND_COMPRESSED, KIND_UNTRUSTED, KIND_REDIRECTS,
    KIND_BAD_LINK, KIND_TIMED_OUT, KIND_UNREACHABLE, KIND_RATE_LIMITED, KIND_UNAVAILABLE, KIND_SERVER_ERROR,
    KIND_CUT_SHORT, KIND_LOCAL_FILE, KIND_COUNT
};

struct KindWords {
    const char *words;
    int again;  // moving again may mend it
};

}  // namespace

static const KindWords KINDS[] = {
    {"图片不存在", 0}, {"网站拒绝", 0}, {"不是图片", 0}, {"大于10MB", 0}, {"图片被压缩传输", 0},
    {"证书不受信任", 0}, {"重定向过多", 0}, {"图片地址无法识别", 0}, {"网站超时", 1}, {"无法连接", 1},
    {"限制访问频率", 1}, {"网站暂时不可用", 1}, {"网站出错", 1}, {"下载中断", 1}, {"无法写入本地文件", 1},
};
static_assert(sizeof KINDS / sizeof *KINDS == KIND_COUNT, "words for every kind");

/* The kind of a failure the host answered with a status. */
static FailureKind statusKind(int status) {
    if (status == 404 || status == 410) return KIND_MISSING;
    if (status == 408) return KIND_TIMED_OUT;
    return status >= 500 ? KIND_SERVER_ERROR : KIND_REFUSED;
}

static FailureKind kindOf(const LinkFailure &f) {
    switch (f.reason) {
    case REASON_STATUS: return statusKind(f.status);
    case REASON_TOO_LARGE: return KIND_TOO_LARGE;
    case REASON_COMPRESSED: return KIND_COMPRESSED;
    case REASON_UNTRUSTED: return KIND_UNTRUSTED;
    case REASON_REDIRECTS: return KIND_REDIRECTS;
    case REASON_BAD_LINK: return KIND_BAD_LINK;
    case REASON_TIMED_OUT: return KIND_TIMED_OUT;
    case REASON_HOST_SKIPPED:
    case REASON_UNREACHABLE: return KIND_UNREACHABLE;
    case REASON_RATE_LIMITED: return KIND_RATE_LIMITED;
    case REASON_UNAVAILABLE: return KIND_UNAVAILABLE;
    case REASON_CUT_SHORT: return KIND_CUT_SHORT;
    case REASON_LOCAL_FILE: return KIND_LOCAL_FILE;
    default: return KIND_NOT_IMAGE;  // a web page, WebP, AVIF, empty or unknown bytes
    }
}

unsigned failureKind(const LinkFailure &failure) {
    return 1u << kindOf(failure);
}

std::string failureKindWords(unsigned kinds, int again) {
    std::string words, last;
    for (int k = 0; k < KIND_COUNT; k++) {
        if (!(kinds & 1u << k) || KINDS[k].again != again) continue;
        if (!last.empty()) words += (words.empty() ? "" : "、") + last;
        last = KINDS[k].words;
    }
    return words.empty() ? last : words + "或" + last;
}
