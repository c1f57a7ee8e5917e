/* The two process-level operations that every front end supplies: show a
 * message to the user, and end the process.
 *
 * The core reports fatal conditions through them (a message, then the end)
 * and never calls a window itself. The window shows a message box; the
 * console prints to standard error; the tests observe both. Without a front
 * end, messages go to standard error and the process ends with exit(). */
#ifndef LUMORA_PROCESS_HOOKS_H
#define LUMORA_PROCESS_HOOKS_H

enum MessageIcon { MESSAGE_ERROR, MESSAGE_WARNING, MESSAGE_INFO, MESSAGE_QUESTION };

struct ProcessHooks {
    /* Shows text (GBK) under caption (GBK) and returns when the user has
     * seen it. */
    void (*showMessage)(const char *text, const char *caption, MessageIcon icon);
    /* Ends the process with the status; must not return. */
    void (*endProcess)(int status);
};

/* Installs the front end's operations; NULL restores the defaults. */
void setProcessHooks(const ProcessHooks *hooks);

void showMessage(const char *text, const char *caption, MessageIcon icon);
[[noreturn]] void endProcess(int status);

#endif
