// Hostile peers at the transport level: an answer whose header line is too long for libcurl,
// and an HTTPS endpoint with a self-signed certificate. Both must end as transport failures,
// retried like any other, with nothing sent in the clear.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/curl_global.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/private_trust.h"
#include "support/service_fixtures.h"
#include "support/test_certificates.h"
#include "support/test_server.h"
#include "transport/http_exchange.h"

using namespace testing_support;

namespace {

using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX, SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslFree<SSL, SSL_free>>;

// A server context presenting `certificate`.
SslCtxPtr makeContext(const TestCertificate& certificate) {
  SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
  SSL_CTX_use_certificate(ctx.get(), certificate.cert.get());
  SSL_CTX_use_PrivateKey(ctx.get(), certificate.key.get());
  return ctx;
}

// A TLS endpoint on 127.0.0.1 presenting `certificate`, by default one signed by its own key.
// The handshake runs over memory buffers, so every byte a client sends is recorded exactly as
// it came off the socket.
class SelfSignedTlsServer {
 public:
  explicit SelfSignedTlsServer(const TestCertificate& certificate = makeSelfSigned("127.0.0.1",
                                                                                   "IP:127.0.0.1"))
      : ctx_(makeContext(certificate)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(listenFd_, 64);
    socklen_t length = sizeof(address);
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread(&SelfSignedTlsServer::serve, this);
  }
  ~SelfSignedTlsServer() {
    stopping_ = true;
    thread_.join();
    ::close(listenFd_);
  }
  SelfSignedTlsServer(const SelfSignedTlsServer&) = delete;
  SelfSignedTlsServer& operator=(const SelfSignedTlsServer&) = delete;

  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_); }
  size_t accepted() const { return accepted_; }
  // Bytes received on each connection, in order.
  std::vector<std::string> received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  // Why each handshake ended, as OpenSSL names it ("" when it completed).
  std::vector<std::string> handshakeEnds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handshakeEnds_;
  }

 private:
  void serve() {
    while (!stopping_) {
      pollfd p = {listenFd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      int fd = ::accept(listenFd_, nullptr, nullptr);
      if (fd < 0) continue;
      ++accepted_;
      handshake(fd);
      ::close(fd);
    }
  }

  void handshake(int fd) {
    SslPtr ssl(SSL_new(ctx_.get()));
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl.get(), in, out);  // the SSL object owns both
    SSL_set_accept_state(ssl.get());
    std::string bytes;
    std::string end = "connection closed";
    char chunk[16384];
    for (;;) {
      pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) break;
      ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
      if (n <= 0) break;
      bytes.append(chunk, static_cast<size_t>(n));
      BIO_write(in, chunk, static_cast<int>(n));
      int rc = SSL_do_handshake(ssl.get());
      int error = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl.get(), rc);
      if (rc == 1) end = "";
      if (error != SSL_ERROR_NONE && error != SSL_ERROR_WANT_READ) {
        const char* reason = ERR_reason_error_string(ERR_peek_last_error());
        end = reason != nullptr ? reason : "handshake failed";
        ERR_clear_error();
      }
      int pending;
      while ((pending = BIO_read(out, chunk, sizeof(chunk))) > 0) {
        ::send(fd, chunk, static_cast<size_t>(pending), MSG_NOSIGNAL);
      }
      // A completed handshake means the client trusted the certificate: hang up at once.
      if (error != SSL_ERROR_WANT_READ) break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    received_.push_back(bytes);
    handshakeEnds_.push_back(end);
  }

  SslCtxPtr ctx_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<size_t> accepted_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> received_;
  std::vector<std::string> handshakeEnds_;
  std::thread thread_;
};

// Every connection began a TLS handshake, the client refused the certificate, and none of
// `secrets` crossed the wire readable.
void expectRefusedWithoutPlainText(const SelfSignedTlsServer& server,
                                   const std::vector<std::string>& secrets) {
  // The server thread may still be recording the last connection the client gave up on.
  for (int wait = 0; wait < 100 && server.handshakeEnds().size() < server.accepted(); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::vector<std::string> received = server.received();
  std::vector<std::string> ends = server.handshakeEnds();
  ASSERT_FALSE(received.empty());
  ASSERT_EQ(received.size(), server.accepted());
  for (size_t i = 0; i < received.size(); ++i) {
    ASSERT_GE(received[i].size(), 2u) << "connection " << i;
    EXPECT_EQ(received[i].substr(0, 2), "\x16\x03") << "connection " << i;
    EXPECT_EQ(ends[i], "tlsv1 alert unknown ca") << "connection " << i;
    for (const std::string& secret : secrets) {
      EXPECT_EQ(received[i].find(secret), std::string::npos) << secret << ", connection " << i;
    }
  }
}

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

  FakeClock clock;
  ScopedTimeSource timeSource;
  HttpAnswer received;
  std::string why;  // the short reason a failed request gives
};

}  // namespace

TEST_F(HostilePeer, AOneMiBHeaderLineIsATransportFailure) {
  TestServer server;
  Answer answer = Answer::json(tokenAnswer("T", "2030-01-01 09:00:00"));
  answer.headers.push_back("X-Padding: " + std::string(1024 * 1024, 'p'));
  server.onAlways("POST", "/oauth2/token", answer);
  LogCapture log;
  EXPECT_FALSE(performRequest(tokenRequest(server.url() + "/oauth2/token"), received, &why));
  // libcurl 7.88 reports an oversized header line as running out of memory.
  EXPECT_TRUE(gaveUp(log, "getMarluneAccessToken failed: Out of memory"));
  EXPECT_EQ(why, "getMarluneAccessToken failed: Out of memory");
}

TEST_F(HostilePeer, ASelfSignedCertificateRefusesTheTokenRequest) {
  SelfSignedTlsServer server;
  LogCapture log;
  EXPECT_FALSE(performRequest(tokenRequest(server.url() + "/oauth2/token"), received, &why));
  EXPECT_TRUE(gaveUp(log,
                     "getMarluneAccessToken failed: SSL certificate problem: "
                     "self-signed certificate"));
  EXPECT_EQ(why, "getMarluneAccessToken failed: SSL peer certificate or SSH remote key was not OK");
  expectRefusedWithoutPlainText(server, {"POST ", "/oauth2", "Authorization", "a2V5OnNlY3JldA=="});
}

TEST_F(HostilePeer, ASelfSignedCertificateRefusesTheCommit) {
  SelfSignedTlsServer server;
  LogCapture log;
  EXPECT_FALSE(performRequest(commitRequest(server.url() + "/v2/translate"), received, &why));
  EXPECT_TRUE(gaveUp(log,
                     "commitTranslate failed: SSL certificate problem: "
                     "self-signed certificate"));
  EXPECT_EQ(why, "commitTranslate failed: SSL peer certificate or SSH remote key was not OK");
  expectRefusedWithoutPlainText(server,
                                {"PUT ", "/v2/translate", "Authorization", "kept-token", "4242"});
}

// With the test's CA trusted as the system's CAs are, a certificate it signed for 127.0.0.1
// is accepted, and one it signed for another host is refused for its name.
TEST_F(HostilePeer, ACertificateForAnotherHostIsRefusedForItsName) {
  TestCertificate ca = makeCa("marlune test CA");
  PrivateTrustStore trust(ca);
  if (!trust.active()) GTEST_SKIP() << trust.why();
  SelfSignedTlsServer right(makeLeaf(ca, "127.0.0.1", "IP:127.0.0.1"));
  HttpAnswer answer;
  EXPECT_FALSE(performRequest(tokenRequest(right.url() + "/oauth2/token"), answer, &why));
  ASSERT_FALSE(right.handshakeEnds().empty());
  EXPECT_EQ(right.handshakeEnds()[0], "");
  SelfSignedTlsServer elsewhere(makeLeaf(ca, "elsewhere.example", "DNS:elsewhere.example"));
  LogCapture log;
  EXPECT_FALSE(performRequest(tokenRequest(elsewhere.url() + "/oauth2/token"), answer, &why));
  EXPECT_TRUE(gaveUp(log,
                     "getMarluneAccessToken failed: SSL: no alternative certificate subject name "
                     "matches target host name '127.0.0.1'"));
  EXPECT_EQ(why, "getMarluneAccessToken failed: SSL peer certificate or SSH remote key was not OK");
}
