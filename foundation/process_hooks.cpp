/* Process-level operations of the front end; see process_hooks.h. */
#include "process_hooks.h"

#include <stdio.h>
#include <stdlib.h>

static void defaultShowMessage(const char *text, const char *caption, MessageIcon) {
    fprintf(stderr, "%s: %s\n", caption, text);
}

static void defaultEndProcess(int status) {
    exit(status);
}

static const ProcessHooks DEFAULT_HOOKS = {defaultShowMessage, defaultEndProcess};
static ProcessHooks hooks = DEFAULT_HOOKS;

void setProcessHooks(const ProcessHooks *h) {
    hooks = h ? *h : DEFAULT_HOOKS;
}

void showMessage(const char *text, const char *caption, MessageIcon icon) {
    hooks.showMessage(text, caption, icon);
}

void endProcess(int status) {
    hooks.endProcess(status);
    exit(status);  // a hook that returns still ends the process
}
