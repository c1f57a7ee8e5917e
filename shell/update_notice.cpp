/* The update notice; see update_notice.h.
 *
 * The reply is read apart from the window work, by small pure functions, so
 * that its reading can be tested without a window or a network. The notice
 * comes as UTF-8 and is shown as GBK, which never takes more bytes than the
 * UTF-8 it comes from; the buffer has one byte more than the notice for the
 * terminator, which an all-ASCII notice would otherwise leave no room for.
 * An unrecognised reply is shown as received, unconverted: it is most
 * likely an error page of some proxy, and the user passes it on to us. */
#include "update_notice.h"

#include <stdlib.h>
#include <windows.h>

#include <string>
#include <vector>

#include "browser.h"
#include "charset.h"
#include "deployment.h"
#include "fetch_memory.h"
#include "move_stop.h"
#include "shell_state.h"
#include "text_utils.h"

static const char CAPTION[] = "提示";

UpdateReply parseUpdateReply(const char *body) {
    std::string copy(body);
    char *cursor = &copy[0];
    UpdateReply reply;
    reply.status = nextToken(&cursor, "^");
    const char *notice = nextToken(&cursor, "^");
    if (notice) reply.notice = notice;
    return reply;
}

UpdateAction updateAction(const std::string &status) {
    if (status == "false") return UPDATE_NONE;
    if (status == "true") return UPDATE_OFFERED;
    if (status == "must") return UPDATE_REQUIRED;
    return UPDATE_UNRECOGNISED;
}

std::string noticeText(const std::string &notice) {
    std::vector<char> gbk(notice.size() + 1, '\0');
    size_t written = 0;
    convertCharset("utf-8", "gbk", notice.data(), notice.size(), gbk.data(), gbk.size(), &written);
    return std::string(gbk.data());  // what converted before a failure, too
}

std::string unrecognisedReplyText(const char *body) {
    std::string shown(body);
    if (shown.size() > UNRECOGNISED_SHOWN_BYTES) shown.resize(UNRECOGNISED_SHOWN_BYTES);
    return "检查软件新版本时返回无法识别的数据：\n\n" + shown;
}

static void offerNewVersion(void) {
    if (MessageBoxA(mainWindow, "检查到新的版本，是否需要进入官网下载新版本？", CAPTION, MB_YESNO | MB_ICONQUESTION) ==
        IDYES)
        openWebPage(DOWNLOAD_PAGE);
}

/* The old version is not to be used any more: the process ends here, or,
 * during a move, once the job has written what it moved into the package. */
static void requireNewVersion(void) {
    MessageBoxA(mainWindow, "软件最近有重要升级，请到官网下载最新版使用！", CAPTION, MB_OK | MB_ICONINFORMATION);
    openWebPage(DOWNLOAD_PAGE);
    if (!requestAbort()) exit(0);
}

static void actOnReply(const char *body) {
    UpdateReply reply = parseUpdateReply(body);
    if (!reply.notice.empty()) SetWindowTextA(controls.noticeBox, noticeText(reply.notice).c_str());
    switch (updateAction(reply.status)) {
    case UPDATE_NONE:
        break;
    case UPDATE_OFFERED:
        offerNewVersion();
        break;
    case UPDATE_REQUIRED:
        requireNewVersion();
        break;
    case UPDATE_UNRECOGNISED:
        MessageBoxA(mainWindow, unrecognisedReplyText(body).c_str(), CAPTION, MB_OK | MB_ICONWARNING);
        break;
    }
}

void checkForUpdate(void) {
    FetchResult *result = fetchToMemory(UPDATE_URL);
    if (result->ok) actOnReply(result->data);
    freeFetchResult(result);
}
