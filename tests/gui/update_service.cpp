/* The update service of the window tests; see update_service.h. */
#include "update_service.h"

#include <winsock2.h>

#include <chrono>

enum { POLL_MS = 50, REQUEST_LIMIT_MS = 5000, REQUEST_MAX_BYTES = 65536 };

/* A socket listening on 127.0.0.1 at port, or 0. */
static SocketHandle listenAt(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return 0;
    BOOL reuse = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char *)&reuse, sizeof reuse);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons((u_short)port);
    if (bind(s, (sockaddr *)&address, sizeof address) != 0 || listen(s, 8) != 0) {
        closesocket(s);
        return 0;
    }
    return (SocketHandle)s;
}

UpdateService::UpdateService(int port, const std::string &body)
    : response("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
               body) {
    uint16_t version;
    netStartup(&version);
    listener = listenAt(port);
    if (listener) server = std::thread([this] { serve(); });
}

UpdateService::~UpdateService() {
    stopping = true;
    if (server.joinable()) server.join();
    netClose(listener);
}

std::vector<std::string> UpdateService::requests() {
    std::lock_guard<std::mutex> hold(mutex);
    return received;
}

void UpdateService::serve() {
    while (!stopping) {
        SocketHandle connection = netAccept(listener, POLL_MS);
        if (connection) answer(connection);
    }
}

/* Reads one request up to its blank line, within the limits, and answers. */
void UpdateService::answer(SocketHandle connection) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(REQUEST_LIMIT_MS);
    std::string request;
    char chunk[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < REQUEST_MAX_BYTES && !stopping &&
           std::chrono::steady_clock::now() < deadline) {
        if (netWaitReadable(connection, POLL_MS) <= 0) continue;
        int n = netRecv(connection, chunk, sizeof chunk);
        if (n <= 0) break;
        request.append(chunk, (size_t)n);
    }
    {
        std::lock_guard<std::mutex> hold(mutex);
        received.push_back(request);
    }
    netSend(connection, response.data(), (int)response.size());
    netClose(connection);
}
