/* A delaying image server on loopback, for benchmarks on a machine without
 * netem: it adds a fixed delay to every new connection (before its first
 * request is read) and to every response (before it is sent), and serves
 * /imgN.jpg as N's 20 KB JPEG-like bytes over HTTP/1.1 keep-alive.
 *
 *   delay_server DELAY_MS HOSTS PORT_FILE [TOO_MANY]
 *
 * With TOO_MANY, the first that many requests of the run are answered 429
 * without a Retry-After, as a host that limits its rate does at a burst.
 * It listens on HOSTS free ports of 127.0.0.1, each standing for one image
 * host, writes them to PORT_FILE one a line, and serves one thread per
 * connection until it is ended, or at the latest after LIFETIME_SECONDS. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_images.h"
#include "test_net.h"

enum { LIFETIME_SECONDS = 900, ACCEPT_POLL_MS = 100, IDLE_LIMIT_MS = 30000, REQUEST_MAX_BYTES = 16384 };

static int delayMs;
static std::atomic<int> tooMany{0};  // requests still to be answered 429

static void pause(void) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
}

/* Reads one request up to its blank line into request; 0 when the client
 * closed or went quiet. */
static int readRequest(SocketHandle s, std::string *request) {
    char chunk[4096];
    request->clear();
    while (request->find("\r\n\r\n") == std::string::npos) {
        if (request->size() > REQUEST_MAX_BYTES || netWaitReadable(s, IDLE_LIMIT_MS) <= 0) return 0;
        int n = netRecv(s, chunk, sizeof chunk);
        if (n <= 0) return 0;
        request->append(chunk, (size_t)n);
    }
    return 1;
}

/* The response to a request: 429 while tooMany lasts, else the image its
 * path names, or 404. */
static std::string response(const std::string &request) {
    if (tooMany.fetch_sub(1) > 0) return "HTTP/1.1 429 Too Many Requests\r\nContent-Length: 0\r\n\r\n";
    int index = 0;
    if (sscanf(request.c_str(), "GET /img%d.jpg ", &index) != 1 || index <= 0)
        return "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    std::string body = benchImageBytes(index);
    return "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

static void serve(SocketHandle s) {
    pause();
    std::string request;
    while (readRequest(s, &request)) {
        std::string bytes = response(request);
        pause();
        int sent = 0;
        for (int n = 1; sent < (int)bytes.size() && n > 0; sent += n) n = netSend(s, bytes.data() + sent, (int)bytes.size() - sent);
        if (request.find("Connection: close") != std::string::npos) break;
    }
    netClose(s);
}

static void acceptLoop(SocketHandle listener) {
    for (;;) {
        SocketHandle s = netAccept(listener, ACCEPT_POLL_MS);
        if (s) std::thread(serve, s).detach();
    }
}

int main(int argc, char **argv) {
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: delay_server DELAY_MS HOSTS PORT_FILE [TOO_MANY]\n");
        return 2;
    }
    delayMs = atoi(argv[1]);
    tooMany = argc == 5 ? atoi(argv[4]) : 0;
    uint16_t version;
    netStartup(&version);
    std::ofstream ports(argv[3]);
    for (int i = 0; i < atoi(argv[2]); i++) {
        int port = 0;
        SocketHandle listener = netListenLoopback(64, &port);
        if (!listener) return 1;
        ports << port << "\n";
        std::thread(acceptLoop, listener).detach();
    }
    ports.close();
    std::this_thread::sleep_for(std::chrono::seconds(LIFETIME_SECONDS));
    return 0;
}
