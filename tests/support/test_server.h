/* A scripted HTTP server on 127.0.0.1 (or ::1) for the fetcher's tests. Each accepted connection takes the next script of
 * steps (a request read is recorded exactly as received) and is then held open until the client closes it. A
 * connection without a script is closed at once, unless the server answers by request: then the answer function
 * replies to each request on it. Every wait is bounded, and the destructor stops all threads. */
#ifndef LUMORA_TESTS_TEST_SERVER_H
#define LUMORA_TESTS_TEST_SERVER_H

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_net.h"

/* One step of a connection's script. DRIP sends the bytes one at a time, ms apart; FLOOD sends them again and
 * again, ms apart, until the client stops taking them; a REQUEST that does not come ends the script. */
struct Step {
    enum Kind { REQUEST, SEND, PAUSE, DRIP, FLOOD, CLOSE, RESET } kind;
    std::string bytes;
    int ms = 0;
};

/* One reply: pieces written one after another, pauseMs apart. */
struct Reply {
    std::vector<std::string> pieces;
    int pauseMs = 0;
    bool close = false;  // close the connection after the last piece
};

/* A reply in one piece. */
Reply reply(const std::string &bytes, bool close = false);

class TestServer {
public:
    /* Listens at port, or at a free port when it is 0; on ::1 with ipv6. */
    explicit TestServer(int port = 0, bool ipv6 = false);
    ~TestServer();

    int port() const { return listenPort; }
    bool listening() const { return listener != 0; }
    /* The script of one future connection: each reply answers one request. */
    void script(const std::vector<Reply> &replies);
    void scriptSteps(const std::vector<Step> &steps);
    /* Drops the scripts that no connection has taken yet and the requests recorded, for a server that serves
     * one run after another. */
    void forget();
    void answerBy(std::function<Reply(const std::string &request)> answer);
    /* Every request received so far, in order, after waiting up to two seconds for at least atLeast of them. */
    std::vector<std::string> requests(size_t atLeast = 0);
    int connections() const { return accepted; }
    /* The most requests that were being answered at once. */
    int mostAtOnce() const { return mostAnswering; }

private:
    void serve(SocketHandle s, std::vector<Step> steps, std::function<Reply(const std::string &)> answer);
    bool runStep(SocketHandle *s, const Step &step, std::string *request);

    SocketHandle listener = 0;
    int listenPort = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> accepted{0}, serving{0}, answering{0}, mostAnswering{0};
    std::mutex mutex;
    std::condition_variable arrived;  // a request was recorded
    std::deque<std::vector<Step>> scripts;
    std::function<Reply(const std::string &)> answerer;
    std::vector<std::string> received;
    std::thread acceptor;
};

#endif
