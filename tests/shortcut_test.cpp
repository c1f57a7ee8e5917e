/* Shell links as the desktop shortcut makes them: the arguments refused,
 * what is set and what is left out, and paths in the ANSI code page, read
 * back through the shell's own interfaces. */
#include <gtest/gtest.h>
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <string>

#include "file_helpers.h"
#include "shortcut.h"
#include "test_support.h"

/* What a saved link holds, read back through IShellLinkA; but the show
 * command, which Wine's reader does not restore, comes from the file's
 * header, where it is the 32-bit number at SHOW_COMMAND_OFFSET. */
struct LinkContents {
    std::string target, arguments, description, workingDir, iconPath;
    int iconIndex = -1;
    int showCommand = -1;
};

enum { SHOW_COMMAND_OFFSET = 0x3C };

static int showCommandOf(const std::string &path) {
    std::string bytes = readFile(path);
    if (bytes.size() < SHOW_COMMAND_OFFSET + 4) return -1;
    int value = 0;
    for (int i = 3; i >= 0; i--) value = value * 256 + (unsigned char)bytes[SHOW_COMMAND_OFFSET + i];
    return value;
}

static HRESULT readLink(const std::string &path, LinkContents *out) {
    IShellLinkA *link = NULL;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link);
    if (FAILED(result)) return result;
    IPersistFile *file = NULL;
    result = link->QueryInterface(IID_IPersistFile, (void **)&file);
    WCHAR widePath[MAX_PATH];
    if (SUCCEEDED(result) && MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH) > 0) {
        result = file->Load(widePath, STGM_READ);
        char text[INFOTIPSIZE] = "";
        link->GetPath(text, MAX_PATH, NULL, SLGP_RAWPATH);
        out->target = text;
        link->GetArguments(text, INFOTIPSIZE);
        out->arguments = text;
        link->GetDescription(text, INFOTIPSIZE);
        out->description = text;
        link->GetWorkingDirectory(text, MAX_PATH);
        out->workingDir = text;
        link->GetIconLocation(text, MAX_PATH, &out->iconIndex);
        out->iconPath = text;
    }
    if (file) file->Release();
    link->Release();
    out->showCommand = showCommandOf(path);
    return result;
}

/* The path of this test program, an existing file to link to. */
static std::string programPath() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, MAX_PATH);
    return path;
}

class ShellLink : public testing::Test {
protected:
    ScratchDir dir;
    std::string program = programPath();
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL))); }
    void TearDown() override { CoUninitialize(); }
};

TEST(ShellLinkArguments, RefusesALinkWithoutTargetOrPath) {
    EXPECT_EQ(createShellLink("", "", "C:\\a.lnk", "", 0, "", "", 0), E_INVALIDARG);
    EXPECT_EQ(createShellLink("C:\\a.exe", "", NULL, "", 0, "", "", 0), E_INVALIDARG);
    EXPECT_EQ(createShellLink("C:\\a.exe", "", "C:\\a.lnk", "", -1, "", "", 0), E_INVALIDARG);
    EXPECT_FALSE(fileExists("C:\\a.lnk"));
}

TEST_F(ShellLink, SavesEverythingItIsGiven) {
    std::string path = dir.file("全部.lnk");
    ASSERT_EQ(createShellLink(program.c_str(), "--package \"数据包.csv\"", path.c_str(), "搬家工具", SW_SHOWMAXIMIZED,
                              dir.path().c_str(), program.c_str(), 2),
              S_OK);
    LinkContents link;
    ASSERT_EQ(readLink(path, &link), S_OK);
    EXPECT_EQ(link.target, program);
    EXPECT_EQ(link.arguments, "--package \"数据包.csv\"");
    EXPECT_EQ(link.description, "搬家工具");
    EXPECT_EQ(link.workingDir, dir.path());
    EXPECT_EQ(link.iconPath, program);
    EXPECT_EQ(link.iconIndex, 2);
    EXPECT_EQ(link.showCommand, SW_SHOWMAXIMIZED);
}

TEST_F(ShellLink, ReportsALinkItCannotSave) {
    std::string missingFolder = dir.file("无此文件夹\\Lumora.lnk");
    EXPECT_LT(createShellLink(program.c_str(), "", missingFolder.c_str(), "", SW_SHOW, "", "", 0), 0);
    std::string tooLong = dir.path() + "\\" + std::string(400, 'n') + ".lnk";
    EXPECT_LT(createShellLink(program.c_str(), "", tooLong.c_str(), "", SW_SHOW, "", "", 0), 0);
    EXPECT_FALSE(fileExists(missingFolder.c_str()));
}
