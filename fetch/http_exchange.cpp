/* Shared HTTP exchange parts; see http_exchange.h. */
#include "http_exchange.h"

#include <ctype.h>
#include <string.h>

#include <chrono>
#include <string_view>

#include "text_utils.h"

/* The most of a header that a wrong-status message shows. */
enum { STATUS_MESSAGE_HEADER_MAX = 256 };

static int lowSpeedWindowMs = LOW_SPEED_WINDOW_MS;
static int imageDeadlineMs = IMAGE_DEADLINE_MS;

void setTransferLimits(int windowMs, int deadlineMs) {
    lowSpeedWindowMs = windowMs;
    imageDeadlineMs = deadlineMs;
}

int64_t clockNow(void) {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t imageDeadline(void) {
    return clockNow() + imageDeadlineMs;
}

TransferClock transferClock(int64_t deadline) {
    return {deadline, clockNow(), 0, TRANSFER_RUNNING};
}

/* Accounts for n bytes just received; 0 when a bound has been passed. */
static int withinBounds(TransferClock *clock, int n) {
    int64_t now = clockNow();
    clock->windowBytes += n;
    if (now > clock->deadline) clock->stop = TRANSFER_TOO_LONG;
    else if (now - clock->windowStart < lowSpeedWindowMs) return 1;
    else if (clock->windowBytes < LOW_SPEED_BYTES) clock->stop = TRANSFER_TOO_SLOW;
    else {
        clock->windowStart = now;
        clock->windowBytes = 0;
        return 1;
    }
    return 0;
}

int receive(Transport *t, char *buffer, int length, TransferClock *clock) {
    int n = transportRecv(t, buffer, length);
    if (n == TRANSPORT_TIMED_OUT) {
        if (clock) clock->stop = TRANSFER_TIMED_OUT;
        n = TRANSPORT_FAILED;  // the messages show every failed read as -1
    }
    if (!clock) return n;
    if (n > 0 && !withinBounds(clock, n)) return -1;
    return n;
}

/* "host" or "host:port", the port only when not the scheme's default. */
static std::string authority(const UrlParts &parts) {
    std::string host = parts.host;
    return parts.port == defaultPort(&parts) ? host : host + ":" + std::to_string(parts.port);
}

std::string httpRequest(const UrlParts &parts, int keepAlive, int referer) {
    std::string request = "GET ";
    request += parts.path;
    request += keepAlive ? " HTTP/1.1" : " HTTP/1.0";
    request += "\r\nAccept: */*";
    request += "\r\nAccept-Language: zh-cn";
    request += "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 5.2; Trident/4.0; CIBA)";
    request += "\r\nHost: " + authority(parts);
    if (referer)
        request += std::string("\r\nReferer: ") + (parts.https ? "https://" : "http://") + authority(parts) + "/";
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

HeaderRead readHeader(Transport *t, char *buffer, int *held, int *lastRead, int *headerLength,
                      TransferClock *clock) {
    *held = 0;
    for (;;) {
        size_t end = std::string_view(buffer, (size_t)*held).find("\r\n\r\n");
        if (end != std::string_view::npos) {
            *headerLength = (int)end;
            return HEADER_COMPLETE;
        }
        if (*held >= HTTP_HEADER_LIMIT) return HEADER_TOO_LARGE;
        int room = HTTP_HEADER_LIMIT - *held;
        *lastRead = receive(t, buffer + *held, room < HTTP_BUFFER_SIZE ? room : HTTP_BUFFER_SIZE, clock);
        if (*lastRead <= 0) return HEADER_CUT_SHORT;
        *held += *lastRead;
    }
}

int responseStatus(const char *line) {
    if (!startsWithNoCase(line, "HTTP/1.1 ") && !startsWithNoCase(line, "HTTP/1.0 ")) return 0;
    const char *code = line + 9;
    for (int i = 0; i < 3; i++)
        if (!isdigit((unsigned char)code[i])) return 0;
    if (!strchr(" \r\n", code[3])) return 0;  // the terminator matches too: a header of one line
    return (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
}

std::string statusMessage(const char *buffer, int headerLength) {
    int shown = headerLength < STATUS_MESSAGE_HEADER_MAX ? headerLength : STATUS_MESSAGE_HEADER_MAX;
    return "返回错误的http状态码:\n" + std::string(buffer, (size_t)shown);
}

int replyKeepsConnection(const char *statusLine, const HttpHeader &header) {
    if (startsWithNoCase(statusLine, "HTTP/1.1")) return !equalsNoCase(header.connection, "close");
    return startsWithNoCase(statusLine, "HTTP/1.0") && equalsNoCase(header.connection, "keep-alive");
}
