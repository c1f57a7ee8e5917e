/* Windows side of the platform layer: the program's folder from
 * GetModuleFileNameA, the desktop from the shell, file moves that replace
 * the target, thread-safe local time. */
#include "platform.h"

#include <direct.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <shlobj.h>

#include "paths.h"

int programFolder(char *dir, size_t size) {
    DWORD n = GetModuleFileNameA(NULL, dir, (DWORD)size);
    if (n == 0 || n >= size) {
        DWORD m = GetCurrentDirectoryA((DWORD)size, dir);
        return m > 0 && m < size;
    }
    cutAtLastSeparator(dir);
    return 1;
}

int desktopFolder(char *dir, size_t size) {
    char path[MAX_PATH] = "";
    LPITEMIDLIST list = NULL;
    if (SHGetSpecialFolderLocation(NULL, CSIDL_DESKTOP, &list) == S_OK) {
        if (!SHGetPathFromIDListA(list, path)) path[0] = '\0';
        CoTaskMemFree(list);
    }
    size_t n = strlen(path);
    if (n == 0 || n >= size) {
        dir[0] = '\0';
        return 0;
    }
    memcpy(dir, path, n + 1);
    return 1;
}

int replaceFile(const char *from, const char *to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int64_t fileSize(const char *path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (int64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

int makeFolder(const char *path) {
    return _mkdir(path) == 0;
}

/* Paths and texts are both in the ANSI code page, GBK. */
static int copyPath(const char *from, char *out, size_t size) {
    size_t n = strlen(from);
    if (n >= size) return 0;
    memcpy(out, from, n + 1);
    return 1;
}

int pathToText(const char *path, char *out, size_t size) {
    return copyPath(path, out, size);
}

int textToPath(const char *text, char *out, size_t size) {
    return copyPath(text, out, size);
}

int listFolder(const char *folder, void (*each)(void *context, const char *name), void *context) {
    char pattern[MAX_PATH];
    if (snprintf(pattern, sizeof pattern, "%s\\*", folder) >= (int)sizeof pattern) return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) each(context, found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return 1;
}

void localTimeOf(time_t t, struct tm *out) {
    localtime_s(out, &t);
}
