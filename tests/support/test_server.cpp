/* Scripted HTTP test server; see test_server.h. */
#include "test_server.h"

#include <chrono>

/* Polling step; longest wait for a request, and for the connections' threads
 * to end; largest request; longest blocked send; most bytes one flood sends. */
enum { POLL_MS = 20, REQUEST_LIMIT_MS = 15000, STOP_LIMIT_MS = 20000, REQUEST_MAX_BYTES = 65536, SEND_LIMIT_MS = 2000 };
static const long long FLOOD_MAX_BYTES = 64LL << 20;

Reply reply(const std::string &bytes, bool close) { return Reply{{bytes}, 0, close}; }

/* The steps that send a reply once its request is read. */
static std::vector<Step> replySteps(const Reply &r) {
    std::vector<Step> steps;
    for (size_t i = 0; i < r.pieces.size(); i++) {
        if (i > 0) steps.push_back({Step::PAUSE, "", r.pauseMs});
        steps.push_back({Step::SEND, r.pieces[i], 0});
    }
    if (r.close) steps.push_back({Step::CLOSE, "", 0});
    return steps;
}

TestServer::TestServer(int port, bool ipv6) : listenPort(port) {
    uint16_t version;
    netStartup(&version);
    listener = ipv6 ? netListenLoopback6(16, &listenPort) : netListenLoopback(16, &listenPort);
    if (!listener) return;
    acceptor = std::thread([this] {
        while (!stopping) {
            SocketHandle s = netAccept(listener, POLL_MS);
            if (!s) continue;
            accepted++;
            serving++;
            netSetTimeouts(s, SEND_LIMIT_MS);  // a client that stops reading ends a flood
            std::lock_guard<std::mutex> hold(mutex);
            std::vector<Step> steps = scripts.empty() ? std::vector<Step>() : scripts.front();
            std::function<Reply(const std::string &)> answer = scripts.empty() ? answerer : nullptr;
            if (!scripts.empty()) scripts.pop_front();
            std::thread([this, s, steps, answer] {
                serve(s, steps, answer);
                serving--;
            }).detach();
        }
    });
}

TestServer::~TestServer() {
    stopping = true;
    if (acceptor.joinable()) acceptor.join();
    for (int waited = 0; serving > 0 && waited < STOP_LIMIT_MS; waited += POLL_MS)
        std::this_thread::sleep_for(std::chrono::milliseconds(POLL_MS));
    netClose(listener);
}

void TestServer::script(const std::vector<Reply> &replies) {
    std::vector<Step> steps;
    for (const Reply &r : replies) {
        steps.push_back({Step::REQUEST, "", 0});
        for (const Step &step : replySteps(r)) steps.push_back(step);
    }
    scriptSteps(steps);
}

void TestServer::scriptSteps(const std::vector<Step> &steps) {
    std::lock_guard<std::mutex> hold(mutex);
    scripts.push_back(steps);
}

void TestServer::forget() {
    std::lock_guard<std::mutex> hold(mutex);
    scripts.clear();
    received.clear();
}

void TestServer::answerBy(std::function<Reply(const std::string &request)> answer) {
    std::lock_guard<std::mutex> hold(mutex);
    answerer = answer;
}

std::vector<std::string> TestServer::requests(size_t atLeast) {
    std::unique_lock<std::mutex> hold(mutex);
    arrived.wait_for(hold, std::chrono::seconds(2), [&] { return received.size() >= atLeast; });
    return received;
}

/* Waits ms in short slices, so that the server can stop meanwhile. */
static void pause(int ms, const std::atomic<bool> &stopping) {
    for (int waited = 0; waited < ms && !stopping; waited += POLL_MS)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms - waited < POLL_MS ? ms - waited : POLL_MS));
}

/* Runs one step; false once the connection is to be closed (*s is 0 when it
 * was reset). A request read is recorded and left in *request. */
bool TestServer::runStep(SocketHandle *s, const Step &step, std::string *request) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(REQUEST_LIMIT_MS);
    char chunk[4096];
    bool drip = step.kind == Step::DRIP, flood = step.kind == Step::FLOOD;
    long long piece = drip ? 1 : (long long)step.bytes.size(), size = (long long)step.bytes.size();
    long long limit = flood && size ? FLOOD_MAX_BYTES : size;
    switch (step.kind) {
    case Step::REQUEST:
        for (request->clear(); request->find("\r\n\r\n") == std::string::npos;) {
            if (stopping || std::chrono::steady_clock::now() > deadline || request->size() > REQUEST_MAX_BYTES) return false;
            if (netWaitReadable(*s, POLL_MS) <= 0) continue;
            int n = netRecv(*s, chunk, sizeof chunk);
            if (n <= 0) return false;
            request->append(chunk, (size_t)n);
        }
        {
            std::lock_guard<std::mutex> hold(mutex);
            received.push_back(*request);
        }
        arrived.notify_all();
        return true;
    case Step::PAUSE:
        pause(step.ms, stopping);
        return true;
    case Step::SEND:
    case Step::DRIP:
    case Step::FLOOD:
        for (long long sent = 0; sent < limit && !stopping; sent += piece) {
            pause(step.ms, stopping);
            if (netSend(*s, step.bytes.data() + (drip ? sent : 0), (int)piece) <= 0) break;
        }
        return true;
    case Step::RESET:
        netAbort(*s);
        *s = 0;
        return false;
    default:
        return false;
    }
}

void TestServer::serve(SocketHandle s, std::vector<Step> steps, std::function<Reply(const std::string &)> answer) {
    std::string request;
    bool open = true;
    for (size_t i = 0; open && i < steps.size(); i++) open = runStep(&s, steps[i], &request);
    while (open && answer && (open = runStep(&s, {Step::REQUEST, "", 0}, &request))) {
        int now = ++answering, most = mostAnswering;
        while (now > most && !mostAnswering.compare_exchange_weak(most, now)) {}
        std::vector<Step> steps = replySteps(answer(request));
        size_t last = steps.size();  // once its last bytes are out, the client may end the request and send another
        for (size_t i = 0; i < steps.size(); i++) last = steps[i].kind == Step::SEND ? i : last;
        for (size_t i = 0; i < steps.size(); i++) {
            if (i == last) answering--;
            open = open && runStep(&s, steps[i], &request);
        }
        if (last == steps.size()) answering--;
    }
    char sink[4096];  // holds the connection until the client closes it
    for (int ready = 0; open && !steps.empty() && !stopping && ready >= 0;)
        if ((ready = netWaitReadable(s, POLL_MS)) > 0 && netRecv(s, sink, sizeof sink) <= 0) break;
    netClose(s);
}
