/* Shell links as the desktop shortcut makes them: the arguments refused, what is set, and paths in the ANSI code
 * page, read back through the shell's own interfaces. */
#include <gtest/gtest.h>
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <string.h>

#include "file_helpers.h"
#include "shortcut.h"
#include "test_support.h"

/* What a saved link holds, one field a line, read back through IShellLinkA; but the show command, which Wine's
 * reader does not restore, comes from the 32-bit number at offset 0x3C of the file's header. */
static std::string readLink(const std::string &path) {
    IShellLinkA *link = NULL;
    IPersistFile *file = NULL;
    WCHAR widePath[MAX_PATH];
    char text[5][INFOTIPSIZE] = {};
    int icon = -1, show = -1;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link))) return "";
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file)) &&
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH) > 0 && file->Load(widePath, STGM_READ) == S_OK) {
        link->GetPath(text[0], MAX_PATH, NULL, SLGP_RAWPATH);
        link->GetArguments(text[1], INFOTIPSIZE);
        link->GetDescription(text[2], INFOTIPSIZE);
        link->GetWorkingDirectory(text[3], MAX_PATH);
        link->GetIconLocation(text[4], MAX_PATH, &icon);
        memcpy(&show, (readFile(path) + std::string(0x40, '\0')).data() + 0x3C, sizeof show);
    }
    if (file) file->Release();
    link->Release();
    std::string out;
    for (const char *field : text) out += std::string(field) + "\n";
    return out + std::to_string(icon) + " " + std::to_string(show);
}

TEST(ShellLink, SavesEverythingItIsGivenAndRefusesOrReportsWhatItCannotSave) {
    EXPECT_EQ(createShellLink("", "", "C:\\a.lnk", "", 0, "", "", 0), E_INVALIDARG);
    EXPECT_EQ(createShellLink("C:\\a.exe", "", NULL, "", 0, "", "", 0), E_INVALIDARG);
    EXPECT_EQ(createShellLink("C:\\a.exe", "", "C:\\a.lnk", "", -1, "", "", 0), E_INVALIDARG);
    EXPECT_FALSE(fileExists("C:\\a.lnk"));
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    ScratchDir dir;
    char program[MAX_PATH] = "";  // this test program, an existing file to link to
    GetModuleFileNameA(NULL, program, MAX_PATH);
    std::string path = dir.file("全部.lnk"), missingFolder = dir.file("无此文件夹\\Lumora.lnk");
    ASSERT_EQ(createShellLink(program, "--package \"数据包.csv\"", path.c_str(), "搬家工具", SW_SHOWMAXIMIZED,
                              dir.path().c_str(), program, 2), S_OK);
    EXPECT_EQ(readLink(path), std::string(program) + "\n--package \"数据包.csv\"\n搬家工具\n" + dir.path() + "\n" + program +
                                  "\n2 " + std::to_string(SW_SHOWMAXIMIZED));
    for (const std::string &bad : {missingFolder, dir.path() + "\\" + std::string(400, 'n') + ".lnk"})
        EXPECT_LT(createShellLink(program, "", bad.c_str(), "", SW_SHOW, "", "", 0), 0) << bad;
    EXPECT_FALSE(fileExists(missingFolder.c_str()));
    CoUninitialize();
}
