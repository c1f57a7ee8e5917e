/* The kinds of failure in the final advice; see failure_words.h.
 *
 * One table, in the order the advice names them: the kinds moving again
 * will not mend first, then those it may. */
#include "failure_words.h"

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
