/* Image downloads and fetches into memory against the scripted loopback server: each case is a file under
 * data/download (format in data/DOWNLOAD-CASES.md), run by the engine here. The chunk decoder's own cases are
 * the table data/unit/chunked_body.tsv. */
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#endif

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app_log.h"
#include "chunked_body.h"
#include "conn_pool.h"
#include "download_chain.h"
#include "fetch_memory.h"
#include "file_helpers.h"
#include "host_backoff.h"
#include "host_failures.h"
#include "http_exchange.h"
#include "test_server.h"
#include "test_support.h"

static std::map<std::string, std::string> vars;  // what each {name} stands for

/* The bytes a case text stands for, its {names} and {date+N} (an HTTP date N seconds from now) first. */
static std::string expand(std::string text) {
    for (const auto &var : vars)
        for (size_t at; (at = text.find("{" + var.first + "}")) != std::string::npos;)
            text.replace(at, var.first.size() + 2, var.second);
    for (size_t at; (at = text.find("{date")) != std::string::npos;) {
        time_t when = time(NULL) + atoi(text.c_str() + at + 5);
        char date[64];
        strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", gmtime(&when));
        text.replace(at, text.find('}', at) + 1 - at, date);
    }
    return unescape(text);
}

/* The reason words in the order of FailReason. */
static const char *const REASON_WORDS[] = {"none", "status", "too-large", "html", "webp", "avif", "svg", "empty", "not-image",
    "host-skipped", "untrusted", "timed-out", "redirects", "rate-limited", "unreachable", "cut-short", "local-file", "bad-link",
    "unavailable", "compressed"};

/* The step words in the order of Step::Kind. */
static const char *const STEP_WORDS[] = {"request", "send", "pause", "drip", "flood", "close", "reset"};

#ifdef _WIN32
/* Puts the relay's authority in the user's root certificates, or takes it
 * out again, through the registry provider: Wine's "Root" store drops it. */
static void trust(bool on) {
    std::string pem = readFile(std::string("Z:") + getenv("SSL_CERT_FILE")), der(pem.size(), '\0');  // drive Z: is /
    DWORD size = (DWORD)der.size();
    CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, (BYTE *)&der[0], &size, NULL, NULL);
    HKEY key;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\SystemCertificates\\Root", 0, NULL, 0, KEY_ALL_ACCESS,
                    NULL, &key, NULL);
    HCERTSTORE roots = CertOpenStore(CERT_STORE_PROV_REG, X509_ASN_ENCODING, 0, 0, key);
    PCCERT_CONTEXT cert = NULL;
    EXPECT_TRUE(roots && CertAddEncodedCertificateToStore(roots, X509_ASN_ENCODING, (const BYTE *)der.data(),
                                                          size, CERT_STORE_ADD_REPLACE_EXISTING, &cert));
    if (cert) on ? CertFreeCertificateContext(cert) : CertDeleteCertificateFromStore(cert);
    CertCloseStore(roots, 0);
    RegCloseKey(key);
}
#else
static void trust(bool) {}  // the relay's SSL_CERT_FILE names it
#endif

class Download : public testing::Test {
protected:
    ScratchDir dir;
    std::string target = dir.file("image.jpg"), said, header;  // said: the download's message or the fetched data
    int result = 0, kind = 0;
    DownloadReport report = {};  // the last get's, but for "get close"
    size_t logStart = 0;  // where the case in hand began in app.log

    void SetUp() override {
        uint16_t version;
        netStartup(&version);
        openAppLog(dir.path().c_str());
        initHostFailures();
        int closed = 0;
        netClose(netListenLoopback(1, &closed));
        vars["closed"] = std::to_string(closed);
    }
    void TearDown() override {
        resetConnFailCounts();
        setNetTimeouts(NET_TIMEOUT_MS, NET_TIMEOUT_MS);
        setTransferLimits(LOW_SPEED_WINDOW_MS, IMAGE_DEADLINE_MS);
        setBackoffUnit(BACKOFF_UNIT_MS);
        setDefaultPorts(HTTP_DEFAULT_PORT, HTTPS_DEFAULT_PORT);
    }
    void serverLine(const std::string &word, const std::string &text, std::vector<std::vector<Step>> *scripts);
    void clientLine(const std::string &word, const std::string &text, TestServer &server);
    void runCase(const std::string &path, int listenPort);
};

/* Applies one line of the server part: a setting or a step. */
void Download::serverLine(const std::string &word, const std::string &text, std::vector<std::vector<Step>> *scripts) {
    int a = atoi(text.c_str()), b = atoi(text.c_str() + text.find(' ') + 1);
    size_t step = std::find(std::begin(STEP_WORDS), std::end(STEP_WORDS), word) - std::begin(STEP_WORDS);
    bool timed = step == Step::PAUSE || step == Step::DRIP || step == Step::FLOOD;
    if (word == "timeouts") setNetTimeouts(a, b);
    else if (word == "limits") setTransferLimits(a, b);
    else if (word == "backoff") setBackoffUnit(a);
    else if (word == "default-ports") setDefaultPorts(a, b);
    else if (word == "connection") scripts->push_back({});
    else if (scripts->empty() || step == sizeof STEP_WORDS / sizeof *STEP_WORDS) ADD_FAILURE() << "unknown: " << word;
    else scripts->back().push_back({(Step::Kind)step, timed ? text.substr(text.find(' ') + 1) : text, timed ? a : 0});
}

/* Makes one download or fetch, or checks one expectation of the last. */
void Download::clientLine(const std::string &word, const std::string &text, TestServer &server) {
    std::string after = text.substr(text.find(' ') + 1), link = word == "get" ? after : text;
    if (link[0] == '/') link = "http://127.0.0.1:" + vars["port"] + link;
    int n = atoi(text.c_str());
    if (word == "get") {
        char message[ERR_MSG_SIZE] = {0};
        report = {};
        DownloadContext context = processContext();
        context.referer = text.rfind("referer", 0) == 0;
        DownloadReport unreported = {};  // "get close" reports nothing: the report stays empty
        int keepAlive = text.rfind("close", 0) != 0;
        result = downloadChain(&context, link.c_str(), target.c_str(), message, keepAlive, keepAlive ? &report : &unreported);
        said = message;
    } else if (word == "fetch") {
        FetchResult *r = fetchToMemory(link.c_str());
        result = r->ok;
        kind = r->failKind;
        said.assign(r->data, r->ok ? (size_t)r->length : strlen(r->data));
        header = r->header ? r->header : "none";
        freeFetchResult(r);
    }
    else if (word == "result") EXPECT_EQ(result, n) << said;
    else if (word == "reason") EXPECT_EQ(REASON_WORDS[report.reason] + (report.reason == REASON_STATUS ? "-" + std::to_string(report.status) : ""), text);
    else if (word == "referer-sent") EXPECT_EQ(report.refererSent, n);
    else if (word == "digest") EXPECT_EQ(std::to_string(report.digest) + " " + std::to_string(report.size), text);
    else if (word == "message") EXPECT_EQ(said, converted("utf-8", "GBK", text));
    else if (word == "message-starts") EXPECT_EQ(said.rfind(converted("utf-8", "GBK", text), 0), 0u) << said;
    else if (word == "kind") EXPECT_EQ(kind, text == "refused" ? FETCH_REFUSED : text == "no-exchange" ? FETCH_NO_EXCHANGE : 0);
    else if (word == "header") EXPECT_EQ(header, text);
    else if (word == "target") target = dir.file(text);
    else if (word == "file" && text == "none") EXPECT_EQ(fileExists(target.c_str()), 0);
    else if (word == "file") EXPECT_EQ(readFile(target), text);
    else if (word == "size") EXPECT_EQ(fileLength(target.c_str()), n);
    else if (word == "connections") EXPECT_EQ(server.connections(), n);
    else if (word == "requests") EXPECT_EQ(server.requests((size_t)n).size(), (size_t)n);
    else if (word == "request") EXPECT_NE((server.requests((size_t)n + 1).size() > (size_t)n ? server.requests()[(size_t)n] : "").find(after), std::string::npos);
    else if (word == "log") EXPECT_EQ(occurrences(readFile(dir.file("app.log")).substr(logStart), converted("utf-8", "GBK", after)), n) << after;
    else ADD_FAILURE() << "unknown word " << word;
}

void Download::runCase(const std::string &path, int listenPort) {
    bool ipv6 = testNameOf(path).rfind("ipv6_", 0) == 0;
    TestServer server(listenPort, ipv6);
    if (ipv6 && !server.listening()) GTEST_SKIP() << "no ::1 here";
    ASSERT_TRUE(server.listening());
    vars["port"] = std::to_string(server.port());
    setNetTimeouts(1000, 1000);
    logStart = readFile(dir.file("app.log")).size();
    std::ifstream in(path);
    ASSERT_TRUE(in.is_open()) << path;
    std::vector<std::vector<Step>> scripts;
    bool client = false;
    std::string line;
    for (int number = 1; std::getline(in, line); number++) {
        SCOPED_TRACE(path + ":" + std::to_string(number));
        size_t space = line.find(' ');
        std::string word = line.substr(0, space), text = space == std::string::npos ? "" : expand(line.substr(space + 1));
        if (word == "client")
            for (const std::vector<Step> &steps : scripts) server.scriptSteps(steps);
        client = client || word == "client";
        if (line.empty() || line[0] == '#' || word == "server" || word == "client") continue;
        if (client) clientLine(word, text, server);
        else serverLine(word, text, &scripts);
    }
    poolCloseAll();  // while the server still runs
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))  // no body is left under its temporary name
        EXPECT_NE(entry.path().filename().string()[0], '~') << entry.path();
}

/* The case files named tls-* or all the others. */
static std::vector<std::string> caseNames(bool tls) {
    std::vector<std::string> paths;
    for (const std::string &p : caseFiles("download"))
        if ((testNameOf(p).rfind("tls_", 0) == 0) == tls) paths.push_back(p);
    return paths;
}

/* The chunk decoder's write function: appends to the string, refusing a chunk that begins with "!". */
static int takeData(void *out, const char *data, int length) {
    if (*data == '!') return 0;
    ((std::string *)out)->append(data, (size_t)length);
    return 1;
}

/* A body decoded in pieces of piece bytes, as a case: the body, how it ends, the data and the bytes behind it.
 * A decoder that has ended takes no more bytes and gives the same answer again. */
static Case decoded(const std::string &body, size_t piece) {
    ChunkDecoder d;
    chunkDecoderInit(&d);
    std::string data;
    int result = 1, used = 0;
    size_t at = 0;
    for (; result == 1 && d.state != CHUNK_DONE && at < body.size(); at += used)
        result = chunkDecode(&d, body.data() + at, (int)std::min(piece, body.size() - at), &used, takeData, &data);
    std::string ends = result != 1 ? std::to_string(result) : d.state == CHUNK_DONE ? "done" : "open", passed = data;
    if (ends != "open") {
        EXPECT_EQ(chunkDecode(&d, "1", 1, &used, takeData, &data), result) << body;
        EXPECT_EQ(used, 0);
    }
    EXPECT_EQ(data, passed);
    return {body, ends, data, d.state == CHUNK_DONE ? body.substr(at) : ""};
}

TEST(ChunkDecode, EndsAlikeWhereverTheBodyIsCut) {
    for (const Case &c : readCases("unit/chunked_body.tsv")) {
        EXPECT_EQ(decoded(c[0], c[0].size()), c);
        EXPECT_EQ(decoded(c[0], 1), c);
    }
}

class CaseFile : public Download, public testing::WithParamInterface<std::string> {};
TEST_P(CaseFile, Runs) { runCase(GetParam(), 0); }
INSTANTIATE_TEST_SUITE_P(Download, CaseFile, testing::ValuesIn(caseNames(false)), CaseFileName());

/* Through tls_relay, whose LUMORA_TLS_PORTS are the plain port, then one per front. */
struct Https : CaseFile {
    int plain = 0;
    void SetUp() override {
        CaseFile::SetUp();
        std::istringstream ports(getenv("LUMORA_TLS_PORTS") ? getenv("LUMORA_TLS_PORTS") : "");
        ports >> plain;
        for (const char *front : {"good", "wronghost", "expired", "stranger", "cut", "fin", "clientonly", "asks"}) ports >> vars[front];
        if (ports.fail()) GTEST_SKIP() << "run through tls_relay";
        trust(true);
    }
    void TearDown() override {
        if (plain) trust(false);
        CaseFile::TearDown();
    }
};
TEST_P(Https, Runs) { runCase(GetParam(), plain); }
INSTANTIATE_TEST_SUITE_P(Download, Https, testing::ValuesIn(caseNames(true)), CaseFileName());
