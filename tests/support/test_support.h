/* Helpers shared by the unit tests: scratch folders, reading files back, and
 * process hooks that let death tests observe the message shown before the
 * process ends. */
#ifndef LUMORA_TESTS_TEST_SUPPORT_H
#define LUMORA_TESTS_TEST_SUPPORT_H

#include <string>
#include <vector>

/* A new empty folder under the system's temporary folder, removed with its
 * contents when the object goes. */
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return dir; }
    /* The path of name inside the folder. */
    std::string file(const std::string &name) const;

private:
    std::string dir;
};

/* The whole content of a file; empty when it cannot be read. */
std::string readFile(const std::string &path);

/* One case of a table under tests/data: its TAB-separated fields, with the
 * escapes \t \r \n \0 \\ and \xHH undone. */
typedef std::vector<std::string> Case;

/* The cases of tests/data/<name>, one per line; blank lines and lines
 * opening with "#" are skipped. Ends the program if the file is missing. */
std::vector<Case> readCases(const std::string &name);

/* Installs hooks that print each message as "MESSAGE <caption> <text>" in
 * hex to standard error and end the process at once with the status. */
void installRecordingHooks();

/* The line that the recording hooks print for a message, for matching in a
 * death test's output. */
std::string messageLine(const std::string &caption, const std::string &text);

#endif
