/* A move view for tests that writes down every call the job makes, in
 * order, and can act as a confirmed close once a given item is finished or
 * as the job shows its last label. */
#ifndef LUMORA_TESTS_VIEW_RECORDER_H
#define LUMORA_TESTS_VIEW_RECORDER_H

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "move_job.h"
#include "package_reader.h"

/* A view that writes down every call. */
struct Recorder {
    std::vector<std::string> events;
    int abortAfterItem = -1;  // acts as a confirmed close once this item is finished
    bool abortAtLastLabel = false;  // ... or as the job shows its last label
    MoveView view = {this, started, finished, progress, failures, message, ended};

    static Recorder &of(void *c) { return *(Recorder *)c; }
    static void started(void *c, int i) { of(c).events.push_back("start " + std::to_string(i)); }
    static void finished(void *c, int i, const ItemRecord *item, int done) {
        auto count = [](const PtrVector *v) { return v ? std::to_string(v->count) : std::string("-"); };
        of(c).events.push_back("finish " + std::to_string(i) + " pc " + count(item->pcFailures) + " mobile " +
                               count(item->mobileFailures) + " done " + std::to_string(done));
        if (i == of(c).abortAfterItem) abortRequested = 1;
    }
    static void progress(void *c, const char *text) {
        std::vector<std::string> &events = of(c).events;
        bool last = !events.empty() && events.back().find("(100%)") != std::string::npos;
        if (last && of(c).abortAtLastLabel) abortRequested = 1;
        events.push_back(std::string("label ") + text);
    }
    static void failures(void *c, int i) { of(c).events.push_back("failures " + std::to_string(i)); }
    static void message(void *c, const char *text, const char *caption, MessageIcon) {
        of(c).events.push_back(std::string("message ") + caption + " " + text);
    }
    static void ended(void *c) { of(c).events.push_back("ended"); }
};

/* Loads the package afresh and runs a job over it into folder; the log and
 * the backups go to programDir. */
static inline int runJob(const std::string &package, const std::string &folder, const std::string &programDir,
                         MoveOptions options, int connections, Recorder &recorder, PtrVector *items) {
    itemListClear(items);
    MoveJob job = {};
    if (loadPackage(package.c_str(), items, &job.packageText) != 1) return -1;
    snprintf(job.packagePath, sizeof job.packagePath, "%s", package.c_str());
    snprintf(job.targetFolder, sizeof job.targetFolder, "%s", folder.c_str());
    snprintf(job.programDir, sizeof job.programDir, "%s", programDir.c_str());
    job.items = items;
    job.options = options;
    job.view = &recorder.view;
    job.connections = connections;
    return runMoveJob(&job);
}

/* The package's text as a fresh load reads it; empty if it cannot be read. */
static inline std::string loadedText(const std::string &package) {
    PtrVector *items = ptrVectorCreate(4, 4);
    char *text = NULL;
    std::string out = loadPackage(package.c_str(), items, &text) == 1 && text ? text : "";
    free(text);
    itemListClear(items);
    ptrVectorDestroy(items, 0);
    return out;
}

#endif
