// Hostile peers at the transport level: an answer whose header line is too long for libcurl,
// and an HTTPS endpoint with a certificate the client must not trust. Both must end as
// transport failures, retried like any other, with nothing sent in the clear. The trust is the
// system's store, or a CA file that replaces it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/curl_global.h"
#include "support/fake_clock.h"
#include "support/file_util.h"
#include "support/log_capture.h"
#include "support/private_trust.h"
#include "support/service_fixtures.h"
#include "support/test_certificates.h"
#include "support/test_server.h"
#include "support/wait.h"
#include "transport/http_exchange.h"

using namespace testing_support;

namespace {

// A test server over TLS presenting `certificate`, by default one signed by its own key.
class TlsServer {
 public:
  explicit TlsServer(const TestCertificate& certificate = makeSelfSigned("127.0.0.1",
                                                                         "IP:127.0.0.1")) {
    TestServerOptions options;
    options.tlsCertPath = dir_ + "/cert.pem";
    options.tlsKeyPath = dir_ + "/key.pem";
    writePem(certificate, options.tlsCertPath, options.tlsKeyPath);
    server_ = std::make_unique<TestServer>(options);
  }
  ~TlsServer() {
    server_.reset();
    removeTree(dir_);
  }

  TestServer& operator*() { return *server_; }
  TestServer* operator->() { return server_.get(); }

  // How the server ended each connection, once every accepted one has closed.
  std::vector<ConnectionEnd> closings() {
    std::vector<ConnectionEnd> ends;
    waitUntil(
        [&] {
          ends = server_->closings();
          return ends.size() >= server_->connectionCount();
        },
        std::chrono::seconds(5), std::chrono::milliseconds(50));
    return ends;
  }

 private:
  std::string dir_ = makeTempDir();
  std::unique_ptr<TestServer> server_;
};

// Every connection began a TLS handshake and the client refused the certificate in it, so no
// request, and none of its secrets, crossed the wire: a request sent in the clear would
// have ended the handshake as not being TLS instead.
void expectRefusedWithoutPlainText(TlsServer& server) {
  std::vector<ConnectionEnd> ends = server.closings();
  ASSERT_FALSE(ends.empty());
  ASSERT_EQ(ends.size(), server->connectionCount());
  for (size_t i = 0; i < ends.size(); ++i) {
    EXPECT_EQ(ends[i].kind, ConnectionEnd::Kind::kHandshakeFailed) << "connection " << i;
    EXPECT_EQ(ends[i].note, "TLS handshake failed: tlsv1 alert unknown ca") << "connection " << i;
  }
  EXPECT_TRUE(server->requests().empty());
}

// While alive, requests trust `ca` alone, as a CA file (without `ca`, an empty one).
struct TrustedCaFile {
  explicit TrustedCaFile(const TestCertificate* ca) {
    writeFile(path, "");
    if (ca != nullptr) writePem(*ca, path, "");
    trustOnlyCaFile(path);
  }
  ~TrustedCaFile() {
    trustOnlyCaFile("");
    removeTree(dir);
  }

  const std::string dir = makeTempDir();
  const std::string path = dir + "/ca.pem";
};

class HostilePeer : public ::testing::Test {
 protected:
  HostilePeer() : clock(ticksAtNewYear2030()), timeSource(&clock) { initCurlGlobal(); }

  // A request shaped like the service token request: "a2V5OnNlY3JldA==" is the Base64
  // credential of key:secret.
  static HttpRequest tokenRequest(const std::string& url) {
    HttpRequest request;
    request.label = "getMarluneAccessToken";
    request.method = "POST";
    request.url = url;
    request.timeLimitSeconds = kRequestTimeLimitSeconds;
    request.headerLines = {"Authorization:Basic a2V5OnNlY3JldA==",
                           "Content-Type: application/json"};
    return request;
  }

  // A request shaped like the translate commit.
  static HttpRequest commitRequest(const std::string& url) {
    HttpRequest request;
    request.label = "commitTranslate";
    request.method = "PUT";
    request.url = url;
    request.followRedirects = true;
    request.assumeHttps = true;
    request.headerLines = {"Authorization:Bearer kept-token", "Content-Type: application/json"};
    request.body = R"({"source":{"fileId":4242}})";
    return request;
  }

  // True when the log ends with the retry rule giving up and then why, in libcurl's words.
  static bool gaveUp(const LogCapture& log, const std::string& why) {
    std::vector<LogLine> lines = log.lines();
    size_t n = lines.size();
    return n >= 2 &&
           lines[n - 2].text.find(" connect failed!!! max retry 32") != std::string::npos &&
           lines[n - 1].severity == google::GLOG_ERROR && lines[n - 1].text == why;
  }

  // True when the request ended at its first attempt, the log saying why in one ERROR line, and
  // the reason it gave is that line.
  bool refusedAtOnce(const LogCapture& log, const std::string& why) const {
    std::vector<LogLine> lines = log.lines();
    return lines.size() == 1 && lines[0].severity == google::GLOG_ERROR && lines[0].text == why &&
           reason == why;
  }

  FakeClock clock;
  ScopedTimeSource timeSource;
  HttpAnswer received;
  std::string reason;  // the short reason a failed request gives
};

}  // namespace

TEST_F(HostilePeer, AOneMiBHeaderLineIsATransportFailure) {
  TestServer server;
  EmulatorResponse answer = jsonAnswer(tokenAnswer("T", "2030-01-01 09:00:00"));
  answer.headers.push_back("X-Padding: " + std::string(1024 * 1024, 'p'));
  server.onAlways("POST", "/oauth2/token", answer);
  LogCapture log;
  EXPECT_FALSE(performRequest(tokenRequest(server.url() + "/oauth2/token"), received, reason));
  // libcurl 7.88 reports an oversized header line as running out of memory.
  EXPECT_TRUE(gaveUp(log, "getMarluneAccessToken failed: Out of memory"));
  EXPECT_EQ(reason, "getMarluneAccessToken failed: Out of memory");
}

TEST_F(HostilePeer, ASelfSignedCertificateRefusesTheTokenRequest) {
  TlsServer server;
  LogCapture log;
  EXPECT_FALSE(performRequest(tokenRequest(server->url() + "/oauth2/token"), received, reason));
  EXPECT_TRUE(refusedAtOnce(log,
                            "getMarluneAccessToken failed: SSL certificate problem: "
                            "self-signed certificate"));
  expectRefusedWithoutPlainText(server);
}

TEST_F(HostilePeer, ASelfSignedCertificateRefusesTheCommit) {
  TlsServer server;
  LogCapture log;
  EXPECT_FALSE(performRequest(commitRequest(server->url() + "/v2/translate"), received, reason));
  EXPECT_TRUE(refusedAtOnce(log,
                            "commitTranslate failed: SSL certificate problem: "
                            "self-signed certificate"));
  expectRefusedWithoutPlainText(server);
}

// With the test's CA as the CA file, a certificate it signed for 127.0.0.1 is accepted, and one
// it signed for another host is refused for its name: verification stays on.
TEST_F(HostilePeer, ACertificateForAnotherHostIsRefusedForItsName) {
  TestCertificate ca = makeCa("marlune test CA");
  TrustedCaFile trust(&ca);
  TlsServer right(makeLeaf(ca, "127.0.0.1", "IP:127.0.0.1"));
  HttpAnswer answer;
  EXPECT_TRUE(performRequest(tokenRequest(right->url() + "/oauth2/token"), answer, reason));
  EXPECT_EQ(right->requestsTo("/oauth2/token").size(), 1u);
  TlsServer elsewhere(makeLeaf(ca, "elsewhere.example", "DNS:elsewhere.example"));
  LogCapture log;
  EXPECT_FALSE(performRequest(tokenRequest(elsewhere->url() + "/oauth2/token"), answer, reason));
  EXPECT_TRUE(refusedAtOnce(log,
                            "getMarluneAccessToken failed: SSL: no alternative certificate subject "
                            "name matches target host name '127.0.0.1'"));
  EXPECT_TRUE(elsewhere->requests().empty());
}

// Requests and their redirects go over HTTP and HTTPS alone, and never from HTTPS to plain
// HTTP. A refusal ends the request at once: no retry, nothing sent where it was refused.
TEST_F(HostilePeer, OtherSchemesAndRedirectsOutOfHttpsAreRefusedAtOnce) {
  TestCertificate ca = makeCa("marlune test CA");
  TrustedCaFile trust(&ca);
  TestServer plain;
  plain.onAlways("PUT", "/v2/translate", jsonAnswer(R"({"code":"success"})"));
  EmulatorResponse toFtp;
  toFtp.status = 302;
  toFtp.headers.push_back("Location: ftp://127.0.0.1:" + std::to_string(plain.port()) + "/x");
  plain.onAlways("PUT", "/ftp", toFtp);
  TlsServer secure(makeLeaf(ca, "127.0.0.1", "IP:127.0.0.1"));
  EmulatorResponse toPlain = toFtp;
  toPlain.headers = {"Location: " + plain.url() + "/v2/translate"};
  secure->onAlways("PUT", "/v2/translate", toPlain);
  LogCapture log;
  const std::pair<std::string, const char*> refusals[] = {{secure->url() + "/v2/translate", "http"},
                                                          {plain.url() + "/ftp", "ftp"},
                                                          {"file:///etc/hosts", "file"}};
  for (const auto& refusal : refusals) {
    EXPECT_FALSE(performRequest(commitRequest(refusal.first), received, reason)) << refusal.first;
    EXPECT_EQ(reason, std::string("commitTranslate failed: Protocol \"") + refusal.second +
                          "\" not supported or disabled in libcurl");
  }
  EXPECT_EQ(secure->requests().size(), 1u);
  EXPECT_EQ(plain.requests().size(), 1u);  // the redirect to ftp, once
  EXPECT_EQ(log.count(" connect failed!!! "), 0u);
  EXPECT_EQ(log.count("commitTranslate failed: Protocol \"http\" not supported"), 1u);
}

// Without a CA file the system's store is trusted (here a private copy with the test's CA in
// it); a CA file replaces the store, it does not add to it.
TEST_F(HostilePeer, TheSystemStoreIsTrustedUnlessACaFileReplacesIt) {
  TestCertificate ca = makeCa("marlune test CA");
  PrivateTrustStore store(ca);
  if (!store.active()) GTEST_SKIP() << store.why();
  TlsServer server(makeLeaf(ca, "127.0.0.1", "IP:127.0.0.1"));
  HttpAnswer answer;
  EXPECT_TRUE(performRequest(tokenRequest(server->url() + "/oauth2/token"), answer, reason));
  TestCertificate other = makeCa("marlune other CA");
  TrustedCaFile only(&other);
  EXPECT_FALSE(performRequest(tokenRequest(server->url() + "/oauth2/token"), answer, reason));
  EXPECT_EQ(reason,
            "getMarluneAccessToken failed: SSL certificate problem: unable to get local issuer "
            "certificate");
  EXPECT_EQ(server->requestsTo("/oauth2/token").size(), 1u);
}

// No attempt can make a CA file without a certificate usable: the request ends at once.
TEST_F(HostilePeer, ACaFileWithoutCertificatesEndsTheRequestAtOnce) {
  TrustedCaFile empty(nullptr);
  TlsServer server;
  LogCapture log;
  EXPECT_FALSE(performRequest(tokenRequest(server->url() + "/oauth2/token"), received, reason));
  EXPECT_TRUE(refusedAtOnce(
      log, "getMarluneAccessToken failed: error setting certificate file: " + empty.path));
}
