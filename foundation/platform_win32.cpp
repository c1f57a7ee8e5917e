/* Windows side of the platform layer: the program's folder from
 * GetModuleFileNameA, the desktop from the shell, file moves that replace
 * the target (ReplaceFile where its attributes are to stay) or keep off a
 * taken name, thread-safe local time. */
#include "platform.h"

#include <direct.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <shlobj.h>
#include <sys/stat.h>

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

/* Copies a path or text; paths and texts are both in the ANSI code page,
 * GBK. */
static int copyPath(const char *from, char *out, size_t size) {
    size_t n = strlen(from);
    if (n >= size) return 0;
    memcpy(out, from, n + 1);
    return 1;
}

int replaceKeepingAttributes(const char *from, const char *to) {
    DWORD attributes = GetFileAttributesA(to);
    if (attributes == INVALID_FILE_ATTRIBUTES) return replaceFile(from, to);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return 0;  // a folder is not replaced by a file
    // ReplaceFile keeps the old file's attributes, times and security, but does not replace a read-only file
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(to, attributes & ~FILE_ATTRIBUTE_READONLY);
    int replaced = ReplaceFileA(to, from, NULL, REPLACEFILE_IGNORE_MERGE_ERRORS, NULL, NULL) != 0;
    SetFileAttributesA(to, attributes);
    return replaced;
}

int moveToFreeName(const char *from, const char *to) {
    if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH)) return 1;
    DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? 0 : -1;
}

FILE *createNewFile(const char *path, int *taken) {
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (taken) *taken = fd < 0 && errno == EEXIST;
    FILE *f = fd < 0 ? NULL : _fdopen(fd, "wb");
    if (fd >= 0 && !f) _close(fd);
    return f;
}

int resolvedPath(const char *path, char *out, size_t size) {
    char final[MAX_PATH + 4];
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, NULL);
    DWORD n = file == INVALID_HANDLE_VALUE ? 0 : GetFinalPathNameByHandleA(file, final, sizeof final, VOLUME_NAME_DOS);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    // "\\?\C:\..." names a drive's file as the ANSI calls take it without the prefix; other forms stay as named
    int drive = n > 6 && n < sizeof final && strncmp(final, "\\\\?\\", 4) == 0 && final[5] == ':';
    return copyPath(drive ? final + 4 : path, out, size);
}

unsigned long processId(void) {
    return GetCurrentProcessId();
}

int64_t fileSize(const char *path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (int64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

int makeFolder(const char *path) {
    return _mkdir(path) == 0;
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
