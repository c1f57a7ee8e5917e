/* A move view for tests that writes down every call the job makes, in
 * order, and can act as a confirmed close once a given item is finished or
 * as the job shows its last label; and a job run over a package file. */
#ifndef LUMORA_TESTS_VIEW_RECORDER_H
#define LUMORA_TESTS_VIEW_RECORDER_H

#include <stdio.h>

#include <string>
#include <vector>

#include "move_job.h"
#include "package_reader.h"

struct Recorder {
    std::vector<std::string> events;
    int abortAfterItem = -1;
    bool abortAtLastLabel = false;
    MoveView view = {this, started, finished, progress, failures, message, ended};

    static void add(void *c, const std::string &event) { ((Recorder *)c)->events.push_back(event); }
    static std::string count(const PtrVector *v) { return v ? std::to_string(v->count) : "-"; }
    static void started(void *c, int i) { add(c, "start " + std::to_string(i)); }
    static void finished(void *c, int i, const ItemRecord *item, int done) {
        add(c, "finish " + std::to_string(i) + " pc " + count(item->pcFailures) + " mobile " + count(item->mobileFailures) +
                   " done " + std::to_string(done));
        if (i == ((Recorder *)c)->abortAfterItem) abortRequested = 1;
    }
    static void progress(void *c, const char *text) {
        Recorder &r = *(Recorder *)c;
        if (r.abortAtLastLabel && !r.events.empty() && r.events.back().find("(100%)") != std::string::npos) abortRequested = 1;
        add(c, std::string("label ") + text);
    }
    static void failures(void *c, int i) { add(c, "failures " + std::to_string(i)); }
    static void message(void *c, const char *text, const char *caption, MessageIcon) {
        add(c, std::string("message ") + caption + " " + text);
    }
    static void ended(void *c) { add(c, "ended"); }
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

#endif
