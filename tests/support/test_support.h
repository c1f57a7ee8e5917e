/* Helpers shared by the unit tests: scratch folders, reading files and case tables back, and process hooks that let
 * death tests observe the message shown before the process ends. */
#ifndef LUMORA_TESTS_TEST_SUPPORT_H
#define LUMORA_TESTS_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "ptr_vector.h"

/* A new empty temporary folder, removed with its contents when the object goes. */
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return dir; }
    std::string file(const std::string &name) const;  // the path of name inside the folder

private:
    std::string dir;
};

/* The whole content of a file; empty when it cannot be read. */
std::string readFile(const std::string &path);

/* The text in another character set, as far as it converts. */
std::string converted(const char *from, const char *to, const std::string &text);

int occurrences(const std::string &text, const std::string &part);

/* The bytes a case text stands for: \t \r \n \0 \\ \xHH undone, \{N:C} as N copies of C. */
std::string unescape(const std::string &text);

/* The cases of tests/data/<name>, one a line (blank and "#" lines skipped),
 * fields split at TAB and unescaped; a missing table aborts. */
typedef std::vector<std::string> Case;
std::vector<Case> readCases(const std::string &name);

/* The paths of the files in tests/data/<folder>, sorted, for a test per
 * file; CaseFileName names each test after its file. */
std::vector<std::string> caseFiles(const std::string &folder);
std::string testNameOf(const std::string &path);
struct CaseFileName {
    template <class Info> std::string operator()(const Info &info) const { return testNameOf(info.param); }
};

/* Hooks that print each message as messageLine() to standard error and end the process at once with the status. */
void installRecordingHooks();

/* The strings a pointer vector holds; the vector is released when taken. */
std::vector<std::string> strings(PtrVector *list, bool taken = false);

/* The next of a repeatable series of numbers from 0 to 32767. */
unsigned nextRandom(unsigned &seed);
std::string messageLine(const std::string &caption, const std::string &text);

#endif
