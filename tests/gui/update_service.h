/* The update service as the window tests play it: an HTTP server on
 * 127.0.0.1 at the fixed port that the test build of Lumora.exe asks (its
 * LUMORA_UPDATE_URL names the port), answering every request with one body
 * and closing the connection.
 *
 * The port is fixed because the program's address is fixed at build time,
 * so the listening socket may reuse an address that a previous test's
 * connections still hold. One thread serves the connections one after
 * another; every wait is bounded and the destructor stops it. */
#ifndef LUMORA_TESTS_GUI_UPDATE_SERVICE_H
#define LUMORA_TESTS_GUI_UPDATE_SERVICE_H

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net.h"

class UpdateService {
public:
    UpdateService(int port, const std::string &body);
    ~UpdateService();
    UpdateService(const UpdateService &) = delete;
    UpdateService &operator=(const UpdateService &) = delete;

    bool listening() const { return listener != 0; }
    /* The requests received so far, each up to its blank line. */
    std::vector<std::string> requests();

private:
    void serve();
    void answer(SocketHandle connection);

    std::string response;
    SocketHandle listener = 0;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::vector<std::string> received;
    std::thread server;
};

#endif
