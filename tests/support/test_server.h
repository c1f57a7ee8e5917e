/* A scripted HTTP server on 127.0.0.1 for the fetcher's tests.
 *
 * Each accepted connection takes the next script: a list of steps that read
 * a request (up to the blank line, recorded exactly as received), send
 * bytes, pause, drip bytes slowly, flood, close or reset. After its last
 * step a connection is held open until the client closes it. A connection
 * without a script is closed at once, unless the server answers by request:
 * then such a connection is served by the answer function, whose reply
 * depends on the request alone, whatever connection it comes on. Every wait
 * is bounded, and the destructor stops all threads. */
#ifndef LUMORA_TESTS_TEST_SERVER_H
#define LUMORA_TESTS_TEST_SERVER_H

#include <atomic>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net.h"

/* One step of a connection's script. */
struct Step {
    enum Kind {
        REQUEST,  // read one request; the script ends when none comes
        SEND,     // send bytes
        PAUSE,    // wait ms
        DRIP,     // send bytes one at a time, ms apart
        FLOOD,    // send bytes again and again, ms apart, until the client stops taking them
        CLOSE,    // close in order
        RESET,    // close with a reset
    } kind;
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
    /* Listens at port, or at a free port when it is 0. */
    explicit TestServer(int port = 0);
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    int port() const { return listenPort; }
    /* false when the port could not be had. */
    bool listening() const { return listener != 0; }
    /* Adds the script of one future connection: each reply answers one
     * request. */
    void script(const std::vector<Reply> &replies);
    /* Adds the script of one future connection, step by step. */
    void scriptSteps(const std::vector<Step> &steps);
    /* Drops the scripts that no connection has taken yet. */
    void forgetScripts();
    /* Serves the connections that have no script by this function. */
    void answerBy(std::function<Reply(const std::string &request)> answer);
    /* Every request received so far, in order, after waiting up to two
     * seconds for at least atLeast of them (the server runs on its own). */
    std::vector<std::string> requests(size_t atLeast = 0);
    /* The number of connections accepted so far. */
    int connections() const { return accepted; }

private:
    /* A connection's thread; done once it has closed the connection. */
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void serve(SocketHandle s, std::vector<Step> steps, std::function<Reply(const std::string &)> answer);
    bool runStep(SocketHandle s, const Step &step, std::string *request);
    bool readRequest(SocketHandle s, std::string *request);
    void pause(int ms);

    SocketHandle listener = 0;
    int listenPort = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> accepted{0};
    std::mutex mutex;
    std::deque<std::vector<Step>> scripts;
    std::function<Reply(const std::string &)> answerer;
    std::vector<std::string> received;
    std::list<Worker> workers;  // finished ones are joined as new ones start
    std::thread acceptor;
};

#endif
