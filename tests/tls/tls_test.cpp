/* https links against the TLS relay (tls_relay runs this program): verified
 * keep-alive, redirects across schemes, refused certificates, the fallbacks
 * to plain HTTP, and how a peer leaves. Under Wine the relay's authority goes
 * into the prefix's own store for the test's run. */
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#endif

#include <stdlib.h>

#include <sstream>
#include <string>

#include "app_log.h"
#include "conn_pool.h"
#include "download.h"
#include "fetch_memory.h"
#include "file_helpers.h"
#include "test_server.h"
#include "test_support.h"

enum Front { GOOD, WRONG_HOST, EXPIRED, STRANGER, CUT, FIN, FRONTS };

static const std::string JPEG = std::string("\xFF\xD8\xFF\xE0", 4) + "jpeg body";
static const std::string UNTRUSTED = "图片服务器的 HTTPS 证书未通过验证，为安全起见不下载。";

static std::string ok(const std::string &body, const std::string &extra = "") {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

/* The relay's ports: the plain one, then one per front. */
static int plainPort, frontPorts[FRONTS];

static bool readPorts() {
    const char *text = getenv("LUMORA_TLS_PORTS");
    std::istringstream in(text ? text : "");
    in >> plainPort;
    for (int &port : frontPorts) in >> port;
    return !in.fail();
}

#ifdef _WIN32
/* The relay's authority in the user's root certificates while the tests run,
 * written through the registry provider: Wine's "Root" store drops it. */
static const char *ROOT_KEY = "Software\\Microsoft\\SystemCertificates\\Root";
static std::string authorityDer;

static HCERTSTORE openRoots(HKEY *key) {
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ROOT_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, key, NULL) != ERROR_SUCCESS)
        return NULL;
    return CertOpenStore(CERT_STORE_PROV_REG, X509_ASN_ENCODING, 0, 0, *key);
}

static void trustAuthority() {
    std::string hex = getenv("LUMORA_TLS_CA") ? getenv("LUMORA_TLS_CA") : "";
    for (size_t i = 0; i + 1 < hex.size(); i += 2) authorityDer += (char)strtol(hex.substr(i, 2).c_str(), NULL, 16);
    HKEY key;
    HCERTSTORE roots = openRoots(&key);
    ASSERT_NE(roots, nullptr);
    EXPECT_TRUE(CertAddEncodedCertificateToStore(roots, X509_ASN_ENCODING, (const BYTE *)authorityDer.data(),
                                                 (DWORD)authorityDer.size(), CERT_STORE_ADD_REPLACE_EXISTING, NULL));
    CertCloseStore(roots, 0);
    RegCloseKey(key);
}

static void forgetAuthority() {
    HKEY key;
    HCERTSTORE roots = openRoots(&key);
    if (!roots) return;
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, (const BYTE *)authorityDer.data(),
                                                       (DWORD)authorityDer.size());
    PCCERT_CONTEXT found = cert ? CertFindCertificateInStore(roots, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, NULL)
                                : NULL;
    if (found) CertDeleteCertificateFromStore(found);
    if (cert) CertFreeCertificateContext(cert);
    CertCloseStore(roots, 0);
    RegCloseKey(key);
}
#else
static void trustAuthority() {}  // the relay's SSL_CERT_FILE names it
static void forgetAuthority() {}
#endif

class Https : public testing::Test {
protected:
    ScratchDir dir;
    TestServer *server = NULL;
    std::string target = dir.file("image.jpg");
    char message[ERR_MSG_SIZE] = {0};

    static void SetUpTestSuite() {
        if (readPorts()) trustAuthority();
    }
    static void TearDownTestSuite() { forgetAuthority(); }
    void SetUp() override {
        if (!readPorts()) GTEST_SKIP() << "run through tls_relay";
        openAppLog(dir.path().c_str());
        initConnTables();
        resetConnFailCounts();
        setNetTimeouts(2000, 2000);
        server = new TestServer(plainPort);
        ASSERT_TRUE(server->listening());
    }
    void TearDown() override {
        setNetTimeouts(NET_TIMEOUT_MS, NET_TIMEOUT_MS);
        setDefaultPorts(HTTP_DEFAULT_PORT, HTTPS_DEFAULT_PORT);
        poolCloseAll();
        delete server;
    }
    static std::string https(int port, const std::string &path) {
        return "https://localhost:" + std::to_string(port) + path;
    }
    static std::string plain(const std::string &path) {
        return "http://127.0.0.1:" + std::to_string(plainPort) + path;
    }
    int get(const std::string &link, int keepAlive = 1) {
        message[0] = '\0';
        return downloadToFile(link.c_str(), target.c_str(), message, keepAlive, 0);
    }
    std::string log() { return readFile(dir.file("app.log")); }
};

TEST_F(Https, ImagesShareOneVerifiedHandshake) {
    std::string large = "\x89P" + std::string(100000, 'p');  // many records, read in pieces
    Reply chunked;
    chunked.pieces = {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n\xFF\xD8\xFF\xE0\r\n", "5\r\nchunk\r\n",
                      "0\r\n\r\n"};
    chunked.pauseMs = 20;
    server->script({reply(ok(JPEG)), reply(ok(large)), chunked});
    const std::string port = std::to_string(frontPorts[GOOD]), chunkedBody = std::string("\xFF\xD8\xFF\xE0", 4) + "chunk";
    const std::pair<std::string, std::string> gets[] = {{"https://localhost:" + port + "/a.jpg", JPEG},
                                                        {"HTTPS://localhost:" + port + "/b.png", large},
                                                        {"https://localhost:" + port + "/c.jpg", chunkedBody}};
    for (const auto &g : gets) {
        ASSERT_EQ(get(g.first), 1) << g.first << ": " << message;
        EXPECT_EQ(readFile(target), g.second) << g.first;
    }
    EXPECT_EQ(server->connections(), 1);
    EXPECT_NE(server->requests().at(0).find("\r\nHost: localhost:" + port + "\r\n"), std::string::npos);
}

TEST_F(Https, RedirectsCrossBetweenSchemes) {
    for (const std::string &to : {https(frontPorts[GOOD], "/b.jpg"), plain("/d.jpg")}) {
        server->script({reply("HTTP/1.1 302 Found\r\nLocation: " + to + "\r\nContent-Length: 0\r\n\r\n", true)});
        server->script({reply(ok(JPEG))});
    }
    ASSERT_EQ(get(plain("/a.jpg")), 1) << message;
    ASSERT_EQ(get(https(frontPorts[GOOD], "/c.jpg"), 0), 1) << message;
    std::vector<std::string> requests = server->requests(4);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1].rfind("GET /b.jpg ", 0), 0u);
    EXPECT_EQ(requests[3].rfind("GET /d.jpg ", 0), 0u);
}

TEST_F(Https, CertificateThatDoesNotVerifyFailsWithoutFallback) {
    for (Front front : {WRONG_HOST, EXPIRED, STRANGER}) {
        EXPECT_EQ(get(https(frontPorts[front], "/x.jpg")), DOWNLOAD_FAILED) << front;
        EXPECT_EQ(message, UNTRUSTED) << front;
        EXPECT_EQ(fileExists(target.c_str()), 0);
        FetchResult *r = fetchToMemory(https(frontPorts[front], "/notice").c_str());
        EXPECT_EQ(r->failKind, FETCH_NO_EXCHANGE);
        EXPECT_EQ(std::string(r->data), UNTRUSTED);
        freeFetchResult(r);
    }
    EXPECT_TRUE(server->requests().empty());  // no request over an unverified session, nor a plain one
    EXPECT_NE(log().find("localhost:" + std::to_string(frontPorts[EXPIRED]) + " TLS: certificate"), std::string::npos);
    EXPECT_EQ(log().find("改用 http"), std::string::npos);
}

TEST_F(Https, UnreachableTlsPortFallsBackToPlainHttp) {
    int closed = 0;
    netClose(netListenLoopback(1, &closed));
    setDefaultPorts(plainPort, closed);  // the link names no port: 443 and 80 stand for these
    server->script({reply(ok(JPEG))});
    ASSERT_EQ(get("https://localhost/a.jpg"), 1) << message;
    EXPECT_NE(server->requests(1).at(0).find("\r\nHost: localhost\r\n"), std::string::npos);
    EXPECT_NE(log().find("https://localhost:" + std::to_string(closed) + " 不可用，改用 http 端口 " +
                         std::to_string(plainPort)),
              std::string::npos);
}

TEST_F(Https, APortThatNeverAgreesIsSkippedAfterFive) {
    const Reply plainReply = reply("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", true);
    for (int i = 0; i < CONNECT_FAILURE_LIMIT; i++) {
        server->script({});  // closes at once: no TLS session
        server->script({plainReply});
    }
    server->script({plainReply});
    std::string link = "https://localhost:" + std::to_string(plainPort) + "/notice";
    for (int i = 0; i <= CONNECT_FAILURE_LIMIT; i++) {
        FetchResult *r = fetchToMemory(link.c_str());
        EXPECT_EQ(r->ok, 1) << r->data;
        freeFetchResult(r);
    }
    EXPECT_EQ(server->connections(), 2 * CONNECT_FAILURE_LIMIT + 1);  // the last one tried plain HTTP alone
    EXPECT_NE(log().find(" 不可用，改用 http 端口 " + std::to_string(plainPort)), std::string::npos);
}

TEST_F(Https, PeerLeavingMidRecordFailsTheImage) {
    struct Case { Front front; std::string response; int result; std::string message; };
    const std::string got = ", 实际接收到的文件大小:" + std::to_string(JPEG.size());
    const std::string unsized = "HTTP/1.0 200 OK\r\nConnection: close\r\n\r\n" + JPEG;
    const Case cases[] = {
        {CUT, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + JPEG, 0, "图片大小:1000" + got},
        {GOOD, unsized, 1, ""},  // close_notify, then a bare close: the body is whole
        {FIN, unsized, 1, ""},
        {CUT, unsized, 0, "图片大小:4294967295" + got + ", ret:-1"},
    };
    for (const Case &c : cases) {
        server->script({reply(c.response, true)});
        EXPECT_EQ(get(https(frontPorts[c.front], "/u.jpg"), 0), c.result) << c.front << ": " << message;
        EXPECT_EQ(std::string(message).rfind(c.message, 0), 0u) << message;
        EXPECT_EQ(fileExists(target.c_str()), c.result) << c.front;
    }
}
