/* Fuzz target: the download's reply reader, in-process. The input's first byte picks keep-alive; the rest is
 * the reply, written whole into one end of a socket pair, whose other end the download's own reading takes
 * (header, status, then a body of a given length, chunked or ended by the close, and its judgement) into a
 * scratch file beside the image's, as an attempt does. It checks that a failed read leaves no file behind and
 * names its reason, and that an image taken is, byte for byte, what the reader counted. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "body_read.h"
#include "conn_pool.h"
#include "file_helpers.h"
#include "reply_read.h"
#include "test_support.h"
#include "transport.h"

/* The socket's send buffer asked for: room for any input scripts/fuzz.sh lets libFuzzer make (its -max_len);
 * an input that does not fit is skipped. */
enum { SOCKET_ROOM = 1 << 20 };

/* A connection whose peer has sent the bytes and closed its side; NULL when they did not fit. */
static Transport *replyConnection(const char *bytes, size_t length) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) __builtin_trap();
    int room = SOCKET_ROOM;
    setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    ssize_t sent = length ? send(ends[0], bytes, length, MSG_DONTWAIT | MSG_NOSIGNAL) : 0;
    close(ends[0]);  // the reader sees the bytes, then an orderly close
    if (sent == (ssize_t)length) return transportPlain((SocketHandle)ends[1]);
    close(ends[1]);
    return NULL;
}

/* The FNV-1a digest and length of a file's bytes. */
static void fileDigest(const std::string &path, uint64_t *digest, int64_t *length) {
    std::string bytes = readFile(path);
    *digest = digestAdd(DIGEST_START, bytes.data(), bytes.size());
    *length = (int64_t)bytes.size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static ScratchDir dir;  // under TMPDIR, which scripts/fuzz.sh points at /dev/shm
    static std::string target = dir.file("image.jpg"), part = scratchPath(target.c_str(), ".part");
    if (size == 0) return 0;
    Transport *conn = replyConnection((const char *)data + 1, size - 1);
    if (!conn) return 0;
    ReplyStream s;  // large: on the stack, as an attempt has it
    BodyReader b;
    AttemptOutcome o;
    char message[ERR_MSG_SIZE] = {0};
    o.message = message;
    s.conn = conn;
    s.keepAlive = data[0] & 1;
    s.clock = transferClock(clockNow() + IMAGE_DEADLINE_MS);
    if (!bodyFileCreate(b, part)) __builtin_trap();
    int result = DOWNLOAD_FAILED;
    if (readReplyHeader(s, b, o, &result)) result = readReplyRest(s, b, o);
    int kept = bodyFileClose(b, result == DOWNLOAD_DONE, target.c_str());
    transportClose(conn);
    // a failed read leaves no file behind, and says why
    if (access(part.c_str(), F_OK) == 0 || (result != DOWNLOAD_DONE && access(target.c_str(), F_OK) == 0))
        __builtin_trap();
    if ((result == DOWNLOAD_DONE || result == DOWNLOAD_REDIRECT) != (o.reason == REASON_NONE)) __builtin_trap();
    if (result != DOWNLOAD_DONE && result != DOWNLOAD_REDIRECT && !message[0]) __builtin_trap();
    if (result != DOWNLOAD_DONE) return 0;
    // an image taken is the bytes the reader counted and hashed
    uint64_t digest;
    int64_t length;
    fileDigest(target, &digest, &length);
    if (!kept || digest != b.digest || length != b.ends.length || length != b.received || !isImageData(&b.ends))
        __builtin_trap();
    remove(target.c_str());
    return 0;
}
