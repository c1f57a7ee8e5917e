/* lumora-move run as a process for tests: started with fork and execve, output to files, stop signals at their
 * default, every wait bounded. POSIX only. */
#ifndef LUMORA_TESTS_MOVE_PROCESS_H
#define LUMORA_TESTS_MOVE_PROCESS_H

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "package_builder.h"

extern char **environ;

enum { RUN_LIMIT_MS = 30000, POLL_MS = 10 };

static inline std::vector<char *> pointers(std::vector<std::string> &texts) {
    std::vector<char *> out;
    for (std::string &t : texts) out.push_back(&t[0]);
    out.push_back(nullptr);
    return out;
}

/* Appends what the terminal's master side holds to text. */
static inline void drain(int master, std::string *text) {
    char chunk[4096];
    for (ssize_t n; master >= 0 && (n = read(master, chunk, sizeof chunk)) > 0;) text->append(chunk, (size_t)n);
}

/* Starts program with its standard files, the stop signals at their default; its pid. The files are closed. */
static inline pid_t startMove(const char *program, char **argv, char **envp, int files[3]) {
    sigset_t none;
    sigemptyset(&none);
    pid_t pid = fork();
    if (pid == 0) {  // only calls that are safe in the child of a process with threads
        for (int fd = 0; fd < 3; fd++) dup2(files[fd], fd);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        execve(program, argv, envp);
        _exit(127);
    }
    for (int fd = 0; fd < 3; fd++) close(files[fd]);
    return pid;
}

/* Waits for the move, calling poll meanwhile; its exit status, or -1 when it had to be killed. */
static inline int waitMove(pid_t pid, const std::function<void()> &poll) {
    int status = 0, ended = 0;
    for (int waited = 0; waited < RUN_LIMIT_MS && !(ended = waitpid(pid, &status, WNOHANG)); waited += POLL_MS) {
        poll();
        usleep(POLL_MS * 1000);
    }
    if (ended == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

/* Runs lumora-move with the arguments and with home at dir, output to files in dir (standard error through a
 * pseudo-terminal with terminal, of that many columns when above 0), stop signals at their default; stop() may
 * signal it. The exit status, or -1 when it had to be killed. */
static inline int runMove(const std::string &dir, std::vector<std::string> args, const std::function<void(pid_t)> &stop,
                          bool terminal = false, int columns = 0) {
    args.insert(args.begin(), {LUMORA_MOVE_PATH, "--connections", "1"});
    std::vector<std::string> env = {"HOME=" + std::filesystem::canonical(dir).string(), "XDG_DESKTOP_DIR="};
    for (char **e = environ; *e; e++)
        if (strncmp(*e, "HOME=", 5) && strncmp(*e, "XDG_DESKTOP_DIR=", 16)) env.push_back(*e);
    std::vector<char *> argv = pointers(args), envp = pointers(env);
    int files[] = {open("/dev/null", O_RDONLY), open((dir + "/out").c_str(), O_WRONLY | O_CREAT, 0644),
                   open((dir + "/err").c_str(), O_WRONLY | O_CREAT, 0644)};
    int master = terminal ? posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK) : -1;
    int slave = master >= 0 && !grantpt(master) && !unlockpt(master) ? open(ptsname(master), O_RDWR | O_NOCTTY) : -1;
    struct winsize size = {24, (unsigned short)columns, 0, 0};
    if (slave >= 0 && columns > 0) ioctl(slave, TIOCSWINSZ, &size);
    if (slave >= 0 && dup2(slave, files[2]) >= 0) close(slave);
    std::string shown;
    pid_t pid = startMove(LUMORA_MOVE_PATH, argv.data(), envp.data(), files);
    stop(pid);
    int status = waitMove(pid, [&] { drain(master, &shown); });
    drain(master, &shown);
    if (master >= 0 && close(master) == 0) writeFile(dir + "/err", shown);
    return status;
}

#endif
