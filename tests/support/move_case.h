/* Moves for tests: written down as case files (format: tests/data/MOVE-CASES.md) and served by loopback hosts; a
 * view that writes down every call of the job, and a job run over a package file. */
#ifndef LUMORA_TESTS_MOVE_CASE_H
#define LUMORA_TESTS_MOVE_CASE_H

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "app_log.h"
#include "conn_pool.h"
#include "host_failures.h"
#include "move_job.h"
#include "package_builder.h"
#include "platform.h"
#include "test_server.h"
#include "test_support.h"

typedef std::vector<std::string> Strings;

struct CaseItem {
    std::string title = "item";
    Strings desc, mobile;
};

struct MoveCase {
    Strings hosts, refused;
    MoveOptions options = {1, 1, 0};
    std::vector<CaseItem> items;
    std::map<std::string, std::string> replies;  // link as requested -> kind [target]
    std::map<std::string, int> delays;           // link as requested -> ms before the answer
    std::vector<std::pair<std::string, std::string>> more;  // other records, in order: key, rest of the line
    Strings unknown;  // records that no engine reads: a misspelt check, which the engines fail on
};

/* The records the engines read beyond the package and its hosts (tests/data/MOVE-CASES.md). */
static const char *const CASE_RECORDS[] = {"guard", "rate", "defaults", "timeouts", "most", "asks", "moves", "never",
                                           "shared", "args", "raw", "mkdir", "stop", "again", "terminal", "status",
                                           "err", "errhas", "out", "hides", "asked", "left", "files", "text", "lacks",
                                           "untouched", "stalereport", "report", "noreport", "package", "restores",
                                           "limits", "backoff", "connections", "many"};

static inline Strings words(const std::string &text) {
    std::istringstream in(text);
    Strings out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

static inline MoveCase readCase(const std::string &path) {
    std::ifstream in(path);
    MoveCase c;
    for (std::string line; std::getline(in, line);) {
        Strings w = words(line);
        if (w.empty() || w[0][0] == '#') continue;
        size_t key = line.find(w[0]) + w[0].size(), bar = line.find('|'), second = line.find('|', bar + 1);
        if (w[0] == "hosts") c.hosts.assign(w.begin() + 1, w.end());
        else if (w[0] == "refused") c.refused.assign(w.begin() + 1, w.end());
        else if (w[0] == "options") c.options = {atoi(w[1].c_str()), atoi(w[2].c_str()), atoi(w[3].c_str())};
        else if (w[0] == "reply") c.replies[w[1]] = line.substr(line.find(w[2], line.find(w[1]) + w[1].size()));
        else if (w[0] == "delay") c.delays[w[1]] = atoi(w[2].c_str());
        else if (w[0] == "item")
            c.items.push_back({w[1] == "|" ? "item" : w[1], words(line.substr(bar + 1, second - bar - 1)), words(line.substr(second + 1))});
        else {
            c.more.push_back({w[0], line.substr(std::min(line.size(), key + 1))});
            if (std::find(std::begin(CASE_RECORDS), std::end(CASE_RECORDS), w[0]) == std::end(CASE_RECORDS)) c.unknown.push_back(w[0]);
        }
    }
    return c;
}

static inline void replaceEvery(std::string &text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); !from.empty() && at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

static inline std::u16string utf16(const std::string &text) {
    std::string bytes = converted("utf-8", "utf-16le", text);
    std::u16string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) out += (char16_t)((unsigned char)bytes[i] | (unsigned char)bytes[i + 1] << 8);
    return out;
}

/* The case's hosts, up while the object lives. */
class CaseHosts {
public:
    explicit CaseHosts(const MoveCase &moveCase) : c(moveCase) {  // answered by request
        for (const std::string &host : c.hosts) {
            servers[host].reset(new TestServer);
            ports[host] = servers[host]->port();
            servers[host]->answerBy([this, host](const std::string &request) { return answer(host, request); });
        }
        for (const std::string &host : c.refused) netClose(netListenLoopback(1, &ports[host]));
        for (auto &r : c.more)  // links without a port go to the host named, https ones to a closed port
            if (r.first == "defaults") {
                netClose(netListenLoopback(1, &closedPort));
                setDefaultPorts(ports[r.second], closedPort);
            }
    }
    ~CaseHosts() { setDefaultPorts(HTTP_DEFAULT_PORT, HTTPS_DEFAULT_PORT); }
    CaseHosts(const CaseHosts &) = delete;
    CaseHosts &operator=(const CaseHosts &) = delete;
    TestServer &server(const std::string &host) { return *servers[host]; }
    std::string url(const std::string &link) const {
        size_t slash = link.find('/'), scheme = link.find(':');
        if (scheme < slash) return (link[4] == 's' ? "https://localhost" : "http://LocalHost") + link.substr(slash);
        return "http://127.0.0.1:" + std::to_string(ports.at(link.substr(0, slash))) + link.substr(slash);
    }
    /* Every request, as HOST/path, host by host. */
    Strings asked() {
        Strings out;
        for (const std::string &host : c.hosts)
            for (const std::string &r : servers[host]->requests()) out.push_back(host + r.substr(4, r.find(' ', 4) - 4));
        return out;
    }
    /* A job's folder: dir's package.csv and its empty images folder. */
    void writeJob(const ScratchDir &dir) const {
        writePackage(dir.file("package.csv"));
        makeFolder(dir.file("images").c_str());
    }
    void writePackage(const std::string &path) const {
        std::vector<PackageRow> rows;
        for (const CaseItem &item : c.items)
            rows.push_back(itemRow(utf16(item.title), html(item.desc, "<img src=\"", "\">"), html(item.mobile, "<img>", "</img>")));
        writeFile(path, packageBytes(packageText(rows)));
    }

private:
    enum { SLOW_PAUSE_MS = 1500 };
    MoveCase c;
    int closedPort = 0;
    std::mutex rateLock;
    std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> served;  // under rateLock: the last second's
    std::map<std::string, int> answered;  // under rateLock: requests per link
    std::map<std::string, int> ports;
    std::map<std::string, std::unique_ptr<TestServer>> servers;  // stopped first

    std::u16string html(const Strings &links, const char *open, const char *close) const {
        std::string text;
        for (const std::string &link : links)
            text += link.compare(0, 3, "bg:") ? open + url(link) + close : "<p style=\"background:url(" + url(link.substr(3)) + ")\"></p>";
        return utf16(text);
    }
    /* How the host guards its images: "referer" (403 without its own site as Referer), "placeholder" (one picture
     * in place of each), or "". */
    std::string guardOf(const std::string &host) const {
        for (auto &r : c.more)
            if (r.first == "guard" && words(r.second)[0] == host) return words(r.second)[1];
        return "";
    }
    /* A 429 when a rate record allows the host no more images in the last second, else "" (the image is counted). */
    std::string overRate(const std::string &host) {
        for (auto &r : c.more) {
            Strings w = words(r.second);
            if (r.first != "rate" || w[0] != host) continue;
            std::lock_guard<std::mutex> hold(rateLock);
            auto now = std::chrono::steady_clock::now();
            auto &times = served[host];
            while (!times.empty() && now - times.front() >= std::chrono::seconds(1)) times.pop_front();
            if (times.size() < (size_t)atoi(w[1].c_str())) times.push_back(now);
            else return "HTTP/1.1 429 Too Many Requests\r\n" + (w.size() > 2 ? "Retry-After: " + w[2] + "\r\n" : "") + "Content-Length: 0\r\n\r\n";
        }
        return "";
    }
    /* What tells a guard's placeholders apart: nothing, one of two versions (placeholder2), or the link itself, as a
     * placeholder scaled to each link's size would be (scaled). */
    static std::string placeholderVariant(const std::string &guard, const std::string &link) {
        if (guard == "placeholder2") return link.size() % 2 ? "-B" : "";
        return guard == "scaled" ? "-" + std::to_string(link.size()) + link : "";
    }
    /* For "429 N [S]" and "503 N [S]": the status (with "Retry-After: S" when given) to N requests of the link in
     * N + 1, the image to the next; else "". */
    std::string busy(const std::string &link, const Strings &kind) {
        if (kind[0] != "429" && kind[0] != "503") return "";
        std::lock_guard<std::mutex> hold(rateLock);
        if (answered[link]++ % (atoi(kind[1].c_str()) + 1) == atoi(kind[1].c_str())) return "";
        return "HTTP/1.1 " + kind[0] + (kind[0] == "429" ? " Too Many Requests" : " Service Unavailable") + "\r\n" +
               (kind.size() > 2 ? "Retry-After: " + kind[2] + "\r\n" : "") + "Content-Length: 0\r\n\r\n";
    }
    Reply answer(const std::string &host, const std::string &request) {
        std::string link = host + request.substr(4, request.find(' ', 4) - 4), over = overRate(host);
        if (!over.empty()) return reply(over);
        auto found = c.replies.find(link);
        Strings kind = words(found == c.replies.end() ? "jpeg" : found->second);
        std::string status = busy(link, kind);
        if (!status.empty()) return reply(status);
        std::string guard = guardOf(host), mark = "\r\nReferer: http://127.0.0.1:" + std::to_string(ports[host]) + "/\r\n";
        bool unguarded = !guard.empty() && (request.find(mark) == std::string::npos || guard == "always");
        if (unguarded && guard == "referer") return reply("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
        if (unguarded) kind = {"placeholder"};
        std::string body = (kind[0] == "png" ? "\x89P" : "\xFF\xD8") + (kind[0] == "placeholder" || kind[0] == "banner" ? kind[0] : link);
        if (unguarded) body += placeholderVariant(guard, link);
        if (kind[0] == "webp") body = std::string("RIFF\x0C\0\0\0WEBP", 12) + "VP8 " + link;
        std::string head = "HTTP/1.1 200 OK\r\n";
        std::string bytes = head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        if (isdigit((unsigned char)kind[0][0]) && kind.size() == 1) bytes = "HTTP/1.1 " + kind[0] + " No\r\nContent-Length: 0\r\n\r\n";
        if (kind[0] == "gone") bytes = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";  // the real image is gone
        if (kind[0] == "cut") bytes = head + "Content-Length: " + std::to_string(body.size() + 100) + "\r\n\r\n" + body;
        if (kind[0] == "html") bytes = head + "Content-Length: 6\r\n\r\n<html>";
        if (kind[0] == "svg") bytes = head + "Content-Length: 11\r\n\r\n<svg></svg>";
        if (kind[0] == "gzip") bytes = head + "Content-Encoding: gzip\r\n" + bytes.substr(head.size());
        if (kind[0] == "redirect") bytes = "HTTP/1.1 302 Found\r\nLocation: " + url(kind[1]) + "\r\nContent-Length: 0\r\n\r\n";
        char size[16];
        snprintf(size, sizeof size, "%zx\r\n", body.size());
        if (kind[0] == "chunked") bytes = head + "Transfer-Encoding: chunked\r\n\r\n" + size + body + "\r\n0\r\n\r\n";
        Reply r = kind[0] == "die" ? Reply{{}, 0, true} : reply(bytes, kind[0] == "cut");
        if (kind[0] == "slow") r = {{bytes.substr(0, bytes.size() - 4), bytes.substr(bytes.size() - 4)}, SLOW_PAUSE_MS};
        if (kind[0] == "silent") r = {{"", ""}, SLOW_PAUSE_MS};
        auto delay = c.delays.find(link);
        if (delay != c.delays.end()) {
            r.pieces.insert(r.pieces.begin(), "");
            r.pauseMs = delay->second;
        }
        return r;
    }
};

/* The package text with each local path into folder put back as the link whose image its file holds: a move that
 * gave each image its own name and each link its own image gives back the text it began with. */
static inline std::string linksPutBack(std::string text, const std::string &folder, const CaseHosts &hosts) {
    const std::string start = folder + PATH_SEPARATOR;
    for (size_t at = text.find(start), end; at != std::string::npos; at = text.find(start, at + 1)) {
        end = text.find_first_of("\"<", at);
        std::string image = readFile(text.substr(at, end - at));
        text.replace(at, end - at, image.size() > 2 ? hosts.url(image.substr(2)) : "(" + image + ")");
    }
    return text;
}

/* Two packages of many items each, their links one host's with a little delay, so that moves of both at once
 * run side by side: case M's links are a/M-I.jpg and a/mM-I.png. */
static inline MoveCase sideBySideCase(int m) {
    enum { ITEMS = 24, DELAY_MS = 10 };
    MoveCase c;
    c.hosts = {"a"};
    for (int i = 0; i < ITEMS; i++) {
        std::string number = std::to_string(m) + "-" + std::to_string(i), desc = "a/" + number + ".jpg", mobile = "a/m" + number + ".png";
        c.items.push_back({"item", {desc}, {mobile}});
        c.delays[desc] = c.delays[mobile] = DELAY_MS;
    }
    return c;
}

/* The view that writes down every call; it can act as a confirmed close once
 * a given item is finished or as the job shows its last label. */
struct Recorder {
    std::vector<std::string> events;
    SharedPictures shared;  // the kept links the job lists for checking
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

/* Loads dir's package.csv afresh and runs a job over it into dir's images,
 * the log and the backups in dir; -1 when the package does not load. */
static inline int runJob(const ScratchDir &dir, MoveOptions options, int connections, Recorder &recorder, PtrVector *items) {
    openAppLog(dir.path().c_str());
    itemListClear(items);
    MoveJob job = {};
    if (loadPackage(dir.file("package.csv").c_str(), items, &job.packageText, nullptr) != 1) return -1;
    snprintf(job.packagePath, sizeof job.packagePath, "%s", dir.file("package.csv").c_str());
    snprintf(job.targetFolder, sizeof job.targetFolder, "%s", dir.file("images").c_str());
    snprintf(job.programDir, sizeof job.programDir, "%s", dir.path().c_str());
    job.items = items;
    job.options = options;
    job.view = &recorder.view;
    job.shared = &recorder.shared;
    job.connections = connections;
    int outcome = runMoveJob(&job);
    poolCloseAll();
    return outcome;
}

#endif
