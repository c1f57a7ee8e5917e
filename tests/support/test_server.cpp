/* Scripted HTTP test server; see test_server.h. */
#include "test_server.h"

#include <chrono>

/* Polling step; longest wait for a request; largest request; longest
 * blocked send; most bytes one flood sends. */
enum { POLL_MS = 20, REQUEST_LIMIT_MS = 15000, REQUEST_MAX_BYTES = 65536, SEND_LIMIT_MS = 2000 };
static const long long FLOOD_MAX_BYTES = 64LL << 20;

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
    for (Worker &w : workers) w.thread.join();
    netClose(listener);
}

/* The steps that send a reply once its request is read. */
static void addReplySteps(std::vector<Step> *steps, const Reply &r) {
    for (size_t i = 0; i < r.pieces.size(); i++) {
        if (i > 0 && r.pauseMs > 0) steps->push_back({Step::PAUSE, "", r.pauseMs});
        steps->push_back({Step::SEND, r.pieces[i], 0});
    }
    if (r.close) steps->push_back({Step::CLOSE, "", 0});
}

void TestServer::script(const std::vector<Reply> &replies) {
    std::vector<Step> steps;
    for (const Reply &r : replies) {
        steps.push_back({Step::REQUEST, "", 0});
        addReplySteps(&steps, r);
    }
    scriptSteps(steps);
}

void TestServer::scriptSteps(const std::vector<Step> &steps) {
    std::lock_guard<std::mutex> hold(mutex);
    scripts.push_back(steps);
}

void TestServer::forgetScripts() {
    std::lock_guard<std::mutex> hold(mutex);
    scripts.clear();
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
        netSetTimeouts(s, SEND_LIMIT_MS);  // a client that stops reading ends a flood
        std::vector<Step> steps;
        std::function<Reply(const std::string &)> answer;
        {
            std::lock_guard<std::mutex> hold(mutex);
            if (!scripts.empty()) {
                steps = scripts.front();
                scripts.pop_front();
            } else {
                answer = answerer;
            }
        }
        for (auto w = workers.begin(); w != workers.end();) {
            if (!w->done) {
                ++w;
                continue;
            }
            w->thread.join();
            w = workers.erase(w);
        }
        Worker &w = workers.emplace_back();
        w.thread = std::thread([this, s, steps, answer, &w] {
            serve(s, steps, answer);
            w.done = true;
        });
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

/* Waits ms in short slices, so that the server can stop meanwhile. */
void TestServer::pause(int ms) {
    for (int waited = 0; waited < ms && !stopping; waited += POLL_MS)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms - waited < POLL_MS ? ms - waited : POLL_MS));
}

/* Runs one step; false once the connection is closed. A request read is
 * recorded and left in *request. */
bool TestServer::runStep(SocketHandle s, const Step &step, std::string *request) {
    switch (step.kind) {
    case Step::REQUEST:
        request->clear();
        if (!readRequest(s, request)) break;
        {
            std::lock_guard<std::mutex> hold(mutex);
            received.push_back(*request);
        }
        return true;
    case Step::SEND:
        netSend(s, step.bytes.data(), (int)step.bytes.size());
        return true;
    case Step::PAUSE:
        pause(step.ms);
        return true;
    case Step::DRIP:
        for (size_t i = 0; i < step.bytes.size() && !stopping; i++) {
            if (i > 0) pause(step.ms);
            if (netSend(s, &step.bytes[i], 1) <= 0) break;
        }
        return true;
    case Step::FLOOD:
        for (long long sent = 0; sent < FLOOD_MAX_BYTES && !stopping; sent += (long long)step.bytes.size()) {
            pause(step.ms);
            if (netSend(s, step.bytes.data(), (int)step.bytes.size()) <= 0) break;
        }
        return true;
    case Step::CLOSE:
        break;
    case Step::RESET:
        netAbort(s);
        return false;
    }
    netClose(s);
    return false;
}

void TestServer::serve(SocketHandle s, std::vector<Step> steps, std::function<Reply(const std::string &)> answer) {
    std::string request;
    for (const Step &step : steps)
        if (!runStep(s, step, &request)) return;
    // served by request: each request gets the reply made for it
    while (answer) {
        if (!runStep(s, {Step::REQUEST, "", 0}, &request)) return;
        std::vector<Step> replySteps;
        addReplySteps(&replySteps, answer(request));
        for (const Step &step : replySteps)
            if (!runStep(s, step, &request)) return;
    }
    // hold the connection until the client closes it
    char sink[4096];
    while (!steps.empty() && !stopping) {
        int ready = netWaitReadable(s, POLL_MS);
        if (ready < 0 || (ready > 0 && netRecv(s, sink, sizeof sink) <= 0)) break;
    }
    netClose(s);
}
