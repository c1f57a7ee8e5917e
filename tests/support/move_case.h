/* Moves written down as case files (tests/data/parallel, tests/data/console)
 * and the loopback hosts that serve them. One record a line, '#' comments:
 *   hosts NAME...      servers on 127.0.0.1; a link NAME/path is served by NAME
 *   refused NAME...    hosts and ports with nobody listening
 *   options IMAGE_SPACE OTHER_ALBUMS BLANK_FOR_FAILED
 *   item TITLE | description links | mobile links   (bg:LINK: a CSS background)
 *   reply LINK KIND    jpeg (the default), png, chunked, 404, html, die (the
 *                      connection closes unanswered), slow (the last bytes
 *                      late) or redirect TARGET
 * Other records are kept, in order, for the test that reads the file. */
#ifndef LUMORA_TESTS_MOVE_CASE_H
#define LUMORA_TESTS_MOVE_CASE_H

#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "move_job.h"
#include "package_builder.h"
#include "test_server.h"

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
    std::vector<std::pair<std::string, std::string>> more;  // other records: key, rest of the line
};

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
        std::string rest = line.substr(std::min(line.size(), key + 1));
        if (w[0] == "hosts") c.hosts.assign(w.begin() + 1, w.end());
        else if (w[0] == "refused") c.refused.assign(w.begin() + 1, w.end());
        else if (w[0] == "options") c.options = {atoi(w[1].c_str()), atoi(w[2].c_str()), atoi(w[3].c_str())};
        else if (w[0] == "reply") c.replies[w[1]] = line.substr(line.find(w[2], line.find(w[1]) + w[1].size()));
        else if (w[0] == "item") {
            c.items.push_back({});
            std::string title = line.substr(key + 1, bar - key - 1);
            if (!words(title).empty()) c.items.back().title = title.substr(0, title.find_last_not_of(' ') + 1);
            c.items.back().desc = words(line.substr(bar + 1, second - bar - 1));
            c.items.back().mobile = words(line.substr(second + 1));
        } else c.more.push_back({w[0], rest});
    }
    return c;
}

/* UTF-8 text as UTF-16 (the characters a test writes all fit in 16 bits). */
static inline std::u16string utf16(const std::string &text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = (unsigned char)text[i];
        int more = c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        char16_t u = more == 2 ? c & 0x0F : more == 1 ? c & 0x1F : c;
        for (; more > 0 && i + 1 < text.size(); more--) u = (char16_t)(u << 6 | (text[++i] & 0x3F));
        out += u;
    }
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
    }
    CaseHosts(const CaseHosts &) = delete;
    CaseHosts &operator=(const CaseHosts &) = delete;
    TestServer &server(const std::string &host) { return *servers[host]; }
    std::string url(const std::string &link) const {
        size_t slash = link.find('/');
        return "http://127.0.0.1:" + std::to_string(ports.at(link.substr(0, slash))) + link.substr(slash);
    }
    /* Every request, as HOST/path, host by host. */
    Strings asked() {
        Strings out;
        for (const std::string &host : c.hosts)
            for (const std::string &r : servers[host]->requests()) out.push_back(host + r.substr(4, r.find(' ', 4) - 4));
        return out;
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
    std::map<std::string, int> ports;
    std::map<std::string, std::unique_ptr<TestServer>> servers;  // stopped first

    std::u16string html(const Strings &links, const char *open, const char *close) const {
        std::string text;
        for (const std::string &link : links)
            text += link.compare(0, 3, "bg:") ? open + url(link) + close : "<p style=\"background:url(" + url(link.substr(3)) + ")\"></p>";
        return utf16(text);
    }
    Reply answer(const std::string &host, const std::string &request) {
        std::string link = host + request.substr(4, request.find(' ', 4) - 4);
        auto found = c.replies.find(link);
        Strings kind = words(found == c.replies.end() ? "jpeg" : found->second);
        std::string body = (kind[0] == "png" ? "\x89P" : "\xFF\xD8") + link, head = "HTTP/1.1 200 OK\r\n";
        std::string bytes = head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        if (kind[0] == "404") bytes = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        if (kind[0] == "html") bytes = head + "Content-Length: 6\r\n\r\n<html>";
        if (kind[0] == "redirect") bytes = "HTTP/1.1 302 Found\r\nLocation: " + url(kind[1]) + "\r\nContent-Length: 0\r\n\r\n";
        char size[16];
        snprintf(size, sizeof size, "%zx\r\n", body.size());
        if (kind[0] == "chunked") bytes = head + "Transfer-Encoding: chunked\r\n\r\n" + size + body + "\r\n0\r\n\r\n";
        Reply r = reply(bytes, kind[0] == "die");
        if (kind[0] == "die") r.pieces.clear();
        if (kind[0] == "slow") r = {{bytes.substr(0, bytes.size() - 4), bytes.substr(bytes.size() - 4)}, SLOW_PAUSE_MS};
        auto delay = c.delays.find(link);
        if (delay != c.delays.end()) {
            r.pieces.insert(r.pieces.begin(), "");
            r.pauseMs = delay->second;
        }
        return r;
    }
};

#endif
