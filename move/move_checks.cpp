/* Pre-flight checks of the front ends; see move_checks.h. */
#include "move_checks.h"

#include <string.h>

#include "charset.h"
#include "file_helpers.h"
#include "paths.h"
#include "platform.h"
#include "text_utils.h"

std::string packagePathProblem(const char *packagePath) {
    if (!packagePath[0]) return "请选择一个淘宝数据包(csv)文件";
    if (!fileExists(packagePath)) return "选择的csv文件不存在，请重新选择";
    return "";
}

std::string loadFailureMessage(int result, const char *packagePath, const std::string &problem) {
    char name[PATH_SIZE];
    pathToText(fileName(packagePath), name, sizeof name);
    if (result == 2)
        return formatText("[%s]数据包中部分宝贝的标题超过%d个字符(%d个汉字)，需要使用淘宝助理修改一下，操作方法如下：\n\n"
                          "1. 打开并登录淘宝助理，进入[宝贝管理] -> [本地库存宝贝]。\n\n"
                          "2. 在[本地库存宝贝]下建立一个新的分类，将[%s]导入到新建立的分类下。\n\n"
                          "3. 将宝贝标题过长的修改短一些。然后钩选刚刚导入的所有宝贝，导出CSV直接替换[%s]，然后再对[%s]进行搬家。",
                          name, 255, 127, name, name, name);
    std::string guide = formatText("[%s]数据格式存在问题，需要使用淘宝助理(版本:5.x+)转换一下，操作方法如下：\n\n"
                                   "1. 打开并登录淘宝助理，进入[宝贝管理] -> [本地库存宝贝]。\n\n"
                                   "2. 在[本地库存宝贝]下建立一个新的分类，将[%s]导入到新建立的分类下，然后钩选刚刚导入的所有宝贝，"
                                   "导出CSV直接替换[%s]。\n\n3. 然后再对[%s]进行搬家。\n\n\n是否需要进入官网查看详细操作指南？",
                                   name, name, name, name);
    return problem.empty() ? guide : problem + "。\n\n" + guide;
}

/* 1 when the folder's name reads as GBK text and back unchanged, and the
 * package's own character set takes that text whole (a Windows name may
 * hold the euro sign, a byte of its own there but no character of
 * GB18030): the package names every image by that text. */
static int folderFitsText(const char *folder) {
    char text[PATH_SIZE], back[PATH_SIZE], units[4 * PATH_SIZE];
    size_t written;
    return pathToText(folder, text, sizeof text) && textToPath(text, back, sizeof back) && strcmp(back, folder) == 0 &&
           convertCharset("GB18030", "UTF-16LE", text, strlen(text), units, sizeof units, &written) == 0;
}

std::string moveChoicesProblem(const MoveOptions &options, const char *targetFolder, const char *desktopFolder) {
    if (!options.imageSpace && !options.otherAlbums)
        return "[搬来自淘宝图片空间里的图片] 与 [搬来自第三方相册里的图片] 至少需选择其中一项";
    if (!targetFolder[0]) return "请选择图片搬家后保存到哪一个文件夹中";
    if (!isDirectory(targetFolder)) return "选择的文件夹不存在，请重新选择";
    if (!folderFitsText(targetFolder))
        return "选择的文件夹名称中含有数据包无法保存的字符（数据包使用GBK编码），请重新选择一个文件夹";
    if (strchr(targetFolder, '"'))
        return "选择的文件夹名称中含有双引号(\")，数据包中的图片地址无法含有双引号，请重新选择一个文件夹";
    if (std::string(targetFolder) == desktopFolder)
        return "不可以将图片搬家到[桌面]上，因为将图片搬家到桌面上，图片有可能会铺满整个桌面。\n\n请重新选择一个文件夹。";
    return "";
}

typedef std::function<std::string(const char *link)> LinkNote;

/* One failure list: its heading and its links, a line each. */
static std::string failureBlock(const char *heading, const PtrVector *links, const char *lineBreak,
                                const LinkNote &note) {
    std::string text = heading;
    for (int32_t i = 0; i < links->count; i++) {
        const char *link = (const char *)links->items[i];
        text += lineBreak + std::string(link) + (note ? note(link) : "");
    }
    return text;
}

std::string failureListText(const ItemRecord &item, const char *lineBreak, const LinkNote &note) {
    std::string text;
    if (item.pcFailures)
        text = failureBlock("[宝贝描述]图片搬家失败列表，可复制下列图片地址到浏览器中查看图片能否正常显示：", item.pcFailures,
                            lineBreak, note);
    if (item.mobileFailures) {
        if (!text.empty()) text += std::string(lineBreak) + lineBreak;
        text += failureBlock("[无线详情]图片搬家失败列表，可复制下列图片地址到浏览器中查看图片能否正常显示：",
                             item.mobileFailures, lineBreak, note);
    }
    return text;
}
