/* The failure report; see failure_report.h.
 *
 * The rows are formed in GBK like every text in memory and converted once;
 * the file is written under a scratch name and takes its own name only
 * when whole, so a report that is open in a spreadsheet is never left cut. */
#include "failure_report.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "app_log.h"
#include "charset.h"
#include "failure_words.h"
#include "file_helpers.h"
#include "package_reader.h"
#include "paths.h"
#include "platform.h"
#include "text_utils.h"

static const char REPORT_SUFFIX[] = "-失败清单.csv";
static const char UTF8_BOM[] = "\xEF\xBB\xBF";

int failureReportPath(const char *packagePath, char *out, size_t size) {
    char text[PATH_SIZE];
    if (!pathToText(packagePath, text, sizeof text)) return 0;
    size_t length = strlen(text);
    if (endsWithNoCase(text, ".csv")) length -= 4;
    std::string name = std::string(text, length) + REPORT_SUFFIX;
    return name.size() < PATH_SIZE && textToPath(name.c_str(), out, size);
}

int failureReportExists(const char *packagePath, char *out, size_t size) {
    return failureReportPath(packagePath, out, size) && fileExists(out) && !isDirectory(out);
}

/* One field, quoted; a leading = + - or @ gets a ' first, so that a
 * spreadsheet shows a title such as "=1+1" rather than working it out. */
static std::string field(const std::string &text) {
    std::string out = "\"";
    if (!text.empty() && strchr("=+-@", text[0])) out += '\'';
    for (char c : text) out += c == '"' ? "\"\"" : std::string(1, c);
    return out + "\"";
}

static std::string row(const std::vector<std::string> &fields) {
    std::string line;
    for (const std::string &f : fields) line += (line.empty() ? "" : ",") + field(f);
    return line + "\r\n";
}

/* The rows of one failure list of an item. */
static std::string listRows(const ItemRecord *item, const PtrVector *list, const char *where,
                            const FailureReasons *reasons) {
    std::string rows;
    for (int32_t i = 0; list && i < list->count; i++) {
        const char *link = (const char *)list->items[i];
        auto found = reasons ? reasons->find(link) : FailureReasons::const_iterator();
        int known = reasons && found != reasons->end();
        rows += row({shownTitle(item->title), where, link, known ? failureReasonText(found->second) : "",
                     known && againMayHelp(found->second) ? "是" : "否"});
    }
    return rows;
}

/* The rows of the links of an item's list to check, each once. */
static std::string sharedRows(const ItemRecord *item, const PtrVector *list, const char *where,
                              const SharedPictures &shared) {
    std::string rows;
    for (int32_t i = 0; list && i < list->count; i++) {
        auto found = shared.find((const char *)list->items[i]);
        std::string line = found == shared.end() ? "" : row({shownTitle(item->title), where, found->first,
            formatText("已搬家，但与同一网站的共 %d 个图片地址是同一张图片，可能是防盗链图片，请检查", found->second), "否"});
        if (rows.find(line) == std::string::npos) rows += line;
    }
    return rows;
}

/* The report in GBK, "" when no item has anything listed. */
static std::string reportRows(const PtrVector *items, const FailureReasons *reasons, const SharedPictures *shared) {
    std::string rows;
    for (int32_t i = 0; i < items->count; i++) {
        const ItemRecord *item = (const ItemRecord *)items->items[i];
        rows += listRows(item, item->pcFailures, "宝贝描述", reasons);
        rows += listRows(item, item->mobileFailures, "无线详情", reasons);
    }
    for (int32_t i = 0; shared && i < items->count; i++) {
        const ItemRecord *item = (const ItemRecord *)items->items[i];
        rows += sharedRows(item, item->descLinks, "宝贝描述", *shared);
        rows += sharedRows(item, item->mobileLinks, "无线详情", *shared);
    }
    return rows.empty() ? rows : row({"宝贝标题", "位置", "图片地址", "失败原因", "再次搬家可能成功"}) + rows;
}

/* The text in UTF-8; "" when it does not convert. */
static std::string utf8(const std::string &gbk) {
    std::vector<char> out(gbk.size() * 3 / 2 + 1);  // a GBK character of two bytes is at most three in UTF-8
    size_t written = 0;
    if (convertCharset("gbk", "utf-8", gbk.data(), gbk.size(), out.data(), out.size(), &written) < 0) return "";
    return std::string(out.data(), written);
}

std::string failureReportText(const PtrVector *items, const FailureReasons *reasons, const SharedPictures *shared) {
    std::string rows = reportRows(items, reasons, shared);
    return rows.empty() ? rows : UTF8_BOM + utf8(rows);
}

/* Writes the text to path whole, or not at all; 1 on success. */
static int writeWhole(const char *path, const std::string &text) {
    std::string scratch = scratchPath(path, ".part");
    FILE *f = fopen(scratch.c_str(), "wb");
    if (!f) return 0;
    int written = fwrite(text.data(), 1, text.size(), f) == text.size();
    written = fclose(f) == 0 && written;
    if (written && replaceFile(scratch.c_str(), path)) return 1;
    remove(scratch.c_str());
    return 0;
}

std::string updateFailureReport(const char *packagePath, const PtrVector *items, const FailureReasons *reasons,
                                const SharedPictures *shared) {
    char path[PATH_SIZE], name[PATH_SIZE];
    int named = failureReportPath(packagePath, path, sizeof path) && pathToText(fileName(path), name, sizeof name);
    std::string text = failureReportText(items, reasons, shared);
    if (text.empty()) {
        if (named) remove(path);  // no report, or a stale one: this move mended what it listed
        return "";
    }
    if (named && text.size() > sizeof UTF8_BOM - 1 && writeWhole(path, text))
        return formatText("\n\n失败清单（每张失败图片的宝贝、地址和原因）已保存在数据包所在的文件夹：%s", name);
    appendLog(formatText("无法写入失败清单：%s", named ? name : fileName(packagePath)).c_str());
    return "\n\n无法写入失败清单，每张失败图片的原因见 app.log。";
}
