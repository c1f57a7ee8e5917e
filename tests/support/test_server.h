/* A scripted HTTP server on 127.0.0.1 for the fetcher's tests.
 *
 * Each accepted connection takes the next script: for every request it
 * reads (up to the blank line, recorded exactly as received) it writes the
 * next reply, piece by piece with pauses between, and may then close. After
 * its last reply a connection is held open until the client closes it. A
 * connection without a script is closed at once, unless the server answers
 * by request: then such a connection is served by the answer function,
 * whose reply depends on the request alone, whatever connection it comes on.
 * Every wait is bounded, and the destructor stops all threads. */
#ifndef LUMORA_TESTS_TEST_SERVER_H
#define LUMORA_TESTS_TEST_SERVER_H

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net.h"

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
    /* Listens at port, or at a free port when it is 0. */
    explicit TestServer(int port = 0);
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    int port() const { return listenPort; }
    /* false when the port could not be had. */
    bool listening() const { return listener != 0; }
    /* Adds the script of one future connection. */
    void script(const std::vector<Reply> &replies);
    /* Serves the connections that have no script by this function. */
    void answerBy(std::function<Reply(const std::string &request)> answer);
    /* Every request received so far, in order, after waiting up to two
     * seconds for at least atLeast of them (the server runs on its own). */
    std::vector<std::string> requests(size_t atLeast = 0);
    /* The number of connections accepted so far. */
    int connections() const { return accepted; }

private:
    void acceptLoop();
    void serve(SocketHandle s, std::vector<Reply> replies, std::function<Reply(const std::string &)> answer);
    bool readRequest(SocketHandle s, std::string *request);

    SocketHandle listener = 0;
    int listenPort = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> accepted{0};
    std::mutex mutex;
    std::deque<std::vector<Reply>> scripts;
    std::function<Reply(const std::string &)> answerer;
    std::vector<std::string> received;
    std::vector<std::thread> workers;
    std::thread acceptor;
};

#endif
