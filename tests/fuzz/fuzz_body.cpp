/* Fuzz target: the download's reply reader. The input's first byte picks keep-alive; the rest is the reply
 * that the scripted loopback server sends to every request of the download (the keep-alive attempt, its
 * repetition and a redirect's) before it closes the connection. The server lives as long as the process; each
 * input starts with an empty pool, no scripts or requests left on the server, and its log lines are dropped. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "app_log.h"
#include "conn_pool.h"
#include "host_failures.h"
#include "download.h"
#include "file_helpers.h"
#include "http_exchange.h"
#include "test_server.h"
#include "test_support.h"

enum { CONNECTIONS_PER_INPUT = 4 };

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static TestServer *server;  // made on the first input, after any fork of the fuzzer
    static ScratchDir dir;
    static std::string target = dir.file("image.jpg");
    if (!server) {
        server = new TestServer();
        if (!server->listening()) abort();
        openAppLog(dir.path().c_str());
        initConnTables();
        setNetTimeouts(500, 500);
        setTransferLimits(300, 1500);
    }
    if (size == 0) return 0;
    std::string body((const char *)data + 1, size - 1);
    for (int i = 0; i < CONNECTIONS_PER_INPUT; i++)
        server->scriptSteps({{Step::REQUEST, "", 0}, {Step::SEND, body, 0}, {Step::CLOSE, "", 0}});
    std::string url = "http://127.0.0.1:" + std::to_string(server->port()) + "/image.jpg";
    char message[ERR_MSG_SIZE] = {0};
    std::string logLines;  // held, never written
    DownloadContext context = {processFailureCounts(), &logLines, 0, 0};
    int result = downloadToFile(&context, url.c_str(), target.c_str(), message, data[0] & 1, 0);
    // a failed download never leaves its file behind
    if (result != 1 && fileExists(target.c_str())) __builtin_trap();
    remove(target.c_str());
    poolCloseAll();
    resetConnFailCounts();
    server->forget();
    return 0;
}
