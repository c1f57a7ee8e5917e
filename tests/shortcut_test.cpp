/* Shell links as the desktop shortcut makes them: the arguments refused,
 * what is set, and paths in the ANSI code page, read back through the
 * shell's own interfaces. */
#include <gtest/gtest.h>
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <string.h>

#include <string>

#include "file_helpers.h"
#include "shortcut.h"
#include "test_support.h"

/* What a saved link holds, one field a line, read back through IShellLinkA;
 * but the show command, which Wine's reader does not restore, comes from
 * the 32-bit number at offset 0x3C of the file's header. */
static std::string readLink(const std::string &path) {
    IShellLinkA *link = NULL;
    IPersistFile *file = NULL;
    WCHAR widePath[MAX_PATH];
    std::string out;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link))) return out;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file)) &&
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH) > 0 && file->Load(widePath, STGM_READ) == S_OK) {
        char text[INFOTIPSIZE] = "";
        int icon = -1;
        link->GetPath(text, MAX_PATH, NULL, SLGP_RAWPATH), out += text + std::string("\n");
        link->GetArguments(text, INFOTIPSIZE), out += text + std::string("\n");
        link->GetDescription(text, INFOTIPSIZE), out += text + std::string("\n");
        link->GetWorkingDirectory(text, MAX_PATH), out += text + std::string("\n");
        link->GetIconLocation(text, MAX_PATH, &icon), out += text + std::string(",") + std::to_string(icon) + "\n";
        std::string bytes = readFile(path) + std::string(0x40, '\0');
        int show = 0;
        memcpy(&show, &bytes[0x3C], sizeof show);
        out += std::to_string(show);
    }
    if (file) file->Release();
    link->Release();
    return out;
}

TEST(ShellLink, RefusesALinkWithoutTargetOrPath) {
    EXPECT_EQ(createShellLink("", "", "C:\\a.lnk", "", 0, "", "", 0), E_INVALIDARG);
    EXPECT_EQ(createShellLink("C:\\a.exe", "", NULL, "", 0, "", "", 0), E_INVALIDARG);
    EXPECT_EQ(createShellLink("C:\\a.exe", "", "C:\\a.lnk", "", -1, "", "", 0), E_INVALIDARG);
    EXPECT_FALSE(fileExists("C:\\a.lnk"));
}

TEST(ShellLink, SavesEverythingItIsGivenAndReportsWhatItCannotSave) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    ScratchDir dir;
    char program[MAX_PATH] = "";  // this test program, an existing file to link to
    GetModuleFileNameA(NULL, program, MAX_PATH);
    std::string path = dir.file("全部.lnk"), missingFolder = dir.file("无此文件夹\\Lumora.lnk");
    ASSERT_EQ(createShellLink(program, "--package \"数据包.csv\"", path.c_str(), "搬家工具", SW_SHOWMAXIMIZED,
                              dir.path().c_str(), program, 2), S_OK);
    EXPECT_EQ(readLink(path), std::string(program) + "\n--package \"数据包.csv\"\n搬家工具\n" + dir.path() + "\n" + program +
                                  ",2\n" + std::to_string(SW_SHOWMAXIMIZED));
    EXPECT_LT(createShellLink(program, "", missingFolder.c_str(), "", SW_SHOW, "", "", 0), 0);
    std::string tooLong = dir.path() + "\\" + std::string(400, 'n') + ".lnk";
    EXPECT_LT(createShellLink(program, "", tooLong.c_str(), "", SW_SHOW, "", "", 0), 0);
    EXPECT_FALSE(fileExists(missingFolder.c_str()));
    CoUninitialize();
}
