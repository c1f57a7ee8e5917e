/* Shared HTTP exchange parts; see http_exchange.h. */
#include "http_exchange.h"

#include <string_view>

std::string httpRequest(const UrlParts &parts, int keepAlive) {
    std::string request = "GET ";
    request += parts.path;
    request += keepAlive ? " HTTP/1.1" : " HTTP/1.0";
    request += "\r\nAccept: */*";
    request += "\r\nAccept-Language: zh-cn";
    request += "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 5.2; Trident/4.0; CIBA)";
    request += "\r\nHost: ";
    request += parts.host;
    if (parts.port != defaultPort(&parts)) request += ":" + std::to_string(parts.port);
    request += keepAlive ? "\r\nConnection: keep-alive\r\n\r\n" : "\r\nConnection: close\r\n\r\n";
    return request;
}

int sendAll(Transport *t, const std::string &text) {
    for (size_t sent = 0; sent < text.size();) {
        int n = transportSend(t, text.data() + sent, (int)(text.size() - sent));
        if (n <= 0) return 0;
        sent += (size_t)n;
    }
    return 1;
}

HeaderRead readHeader(Transport *t, char *buffer, int *held, int *lastRead, int *headerLength) {
    *held = 0;
    for (;;) {
        size_t end = std::string_view(buffer, (size_t)*held).find("\r\n\r\n");
        if (end != std::string_view::npos) {
            *headerLength = (int)end;
            return HEADER_COMPLETE;
        }
        if (*held >= HTTP_BUFFER_SIZE) return HEADER_TOO_LARGE;
        *lastRead = transportRecv(t, buffer + *held, HTTP_BUFFER_SIZE - *held);
        if (*lastRead <= 0) return HEADER_CUT_SHORT;
        *held += *lastRead;
    }
}
