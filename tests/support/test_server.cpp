/* Scripted HTTP test server; see test_server.h. */
#include "test_server.h"

#include <chrono>

enum { POLL_MS = 20, REQUEST_LIMIT_MS = 15000, REQUEST_MAX_BYTES = 65536 };

Reply reply(const std::string &bytes, bool close) {
    Reply r;
    r.pieces.push_back(bytes);
    r.close = close;
    return r;
}

TestServer::TestServer(int port) : listenPort(port) {
    uint16_t version;
    netStartup(&version);
    listener = netListenLoopback(16, &listenPort);
    if (listener) acceptor = std::thread([this] { acceptLoop(); });
}

TestServer::~TestServer() {
    stopping = true;
    if (acceptor.joinable()) acceptor.join();
    for (std::thread &t : workers) t.join();
    netClose(listener);
}

void TestServer::script(const std::vector<Reply> &replies) {
    std::lock_guard<std::mutex> hold(mutex);
    scripts.push_back(replies);
}

void TestServer::answerBy(std::function<Reply(const std::string &request)> answer) {
    std::lock_guard<std::mutex> hold(mutex);
    answerer = answer;
}

std::vector<std::string> TestServer::requests(size_t atLeast) {
    for (int waited = 0; waited < 2000; waited += POLL_MS) {
        {
            std::lock_guard<std::mutex> hold(mutex);
            if (received.size() >= atLeast) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(POLL_MS));
    }
    std::lock_guard<std::mutex> hold(mutex);
    return received;
}

void TestServer::acceptLoop() {
    while (!stopping) {
        SocketHandle s = netAccept(listener, POLL_MS);
        if (!s) continue;
        accepted++;
        std::vector<Reply> replies;
        std::function<Reply(const std::string &)> answer;
        {
            std::lock_guard<std::mutex> hold(mutex);
            if (!scripts.empty()) {
                replies = scripts.front();
                scripts.pop_front();
            } else {
                answer = answerer;
            }
        }
        workers.emplace_back([this, s, replies, answer] { serve(s, replies, answer); });
    }
}

/* Reads one request up to its blank line; false when the client closed,
 * the server stops or the request takes too long. */
bool TestServer::readRequest(SocketHandle s, std::string *request) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(REQUEST_LIMIT_MS);
    char chunk[4096];
    while (request->find("\r\n\r\n") == std::string::npos) {
        if (stopping || std::chrono::steady_clock::now() > deadline || request->size() > REQUEST_MAX_BYTES)
            return false;
        if (netWaitReadable(s, POLL_MS) <= 0) continue;
        int n = netRecv(s, chunk, sizeof chunk);
        if (n <= 0) return false;
        request->append(chunk, (size_t)n);
    }
    return true;
}

void TestServer::serve(SocketHandle s, std::vector<Reply> replies, std::function<Reply(const std::string &)> answer) {
    for (size_t at = 0; at < replies.size() || answer; at++) {
        std::string request;
        if (!readRequest(s, &request)) break;
        {
            std::lock_guard<std::mutex> hold(mutex);
            received.push_back(request);
        }
        const Reply &r = at < replies.size() ? replies[at] : answer(request);
        for (size_t i = 0; i < r.pieces.size(); i++) {
            if (i > 0 && r.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(r.pauseMs));
            netSend(s, r.pieces[i].data(), (int)r.pieces[i].size());
        }
        if (r.close) {
            netClose(s);
            return;
        }
    }
    // hold the connection until the client closes it
    char sink[4096];
    while (!replies.empty() && !stopping) {
        int ready = netWaitReadable(s, POLL_MS);
        if (ready < 0 || (ready > 0 && netRecv(s, sink, sizeof sink) <= 0)) break;
    }
    netClose(s);
}
