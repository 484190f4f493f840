#include "transport/http_exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <thread>

#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/test_server.h"

using namespace testing_support;

namespace {

// A GET through the shared request procedure.
struct Exchange {
  bool ok;
  std::string body;
  std::string headers;
};

Exchange send(const std::string& method, const std::string& url) {
  HttpRequest request;
  request.label = "test";
  request.method = method;
  request.url = url;
  HttpAnswer answer;
  std::string reason;
  bool ok = performRequest(request, answer, reason);
  return {ok, answer.body, answer.headerText};
}

Exchange get(const std::string& url) { return send("GET", url); }

std::vector<LogLine> retryLines(const LogCapture& log) {
  std::vector<LogLine> lines;
  for (const LogLine& line : log.lines()) {
    if (line.text.find(" connect failed!!! ") != std::string::npos) lines.push_back(line);
  }
  return lines;
}

TEST(CollectChunk, KeepsBytesBeforeTheFirstNulAndConsumesAll) {
  ResponseBuffer buffer;
  char withNul[] = {'a', 'b', '\0', 'c'};
  EXPECT_EQ(collectChunk(withNul, 1, 4, &buffer), 4u);
  char plain[] = {'d', 'e'};
  EXPECT_EQ(collectChunk(plain, 1, 2, &buffer), 2u);
  EXPECT_EQ(collectChunk(plain, 1, 0, &buffer), 0u);
  char leadingNul[] = {'\0', 'x'};
  EXPECT_EQ(collectChunk(leadingNul, 1, 2, &buffer), 2u);
  EXPECT_EQ(buffer.text, "abde");

  std::string big(100000, 'z');
  EXPECT_EQ(collectChunk(&big[0], 1, big.size(), &buffer), big.size());
  EXPECT_EQ(buffer.text.size(), 4 + big.size());
}

TEST(CollectChunk, TakesNothingPastTheLimitAndEndsTheTransfer) {
  ResponseBuffer buffer;
  buffer.limit = 10;
  char bytes[] = {'a', '\0', 'b', 'c', 'd', 'e'};
  EXPECT_EQ(collectChunk(bytes, 1, 6, &buffer), 6u);  // bytes after a NUL count too
  EXPECT_EQ(collectChunk(bytes, 1, 5, &buffer), 0u);
  EXPECT_EQ(collectChunk(bytes, 1, 4, &buffer), 4u);
  EXPECT_EQ(buffer.text, "aa");
  EXPECT_EQ(buffer.received, 10);
}

TEST(PerformWithRetry, OneFailureIsRetriedAtOnceWithoutLogging) {
  FakeClock clock(17000000000000000);
  ScopedTimeSource useClock(&clock);
  LogCapture log;
  TestServer server;
  server.onSequence("GET", "/a", {droppedAnswer(), jsonAnswer("{\"ok\":1}")});
  Exchange e = get(server.url() + "/a");
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "{\"ok\":1}");
  EXPECT_EQ(server.connectionCount(), 2u);
  EXPECT_TRUE(retryLines(log).empty());
  EXPECT_EQ(clock.sleeps(), 0);
}

TEST(PerformWithRetry, TwoFailuresLogOneRetryAndPauseOnce) {
  FakeClock clock(17000000000000000);
  ScopedTimeSource useClock(&clock);
  LogCapture log;
  TestServer server;
  server.onSequence("GET", "/a", {droppedAnswer(), droppedAnswer(), jsonAnswer("{}")});
  std::string url = server.url() + "/a";
  EXPECT_TRUE(get(url).ok);
  std::vector<LogLine> lines = retryLines(log);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].severity, google::GLOG_ERROR);
  EXPECT_EQ(lines[0].file, "marluneTranslate.cpp");
  EXPECT_EQ(lines[0].line, 178);
  EXPECT_EQ(lines[0].text, url + " connect failed!!! retry 2");
  EXPECT_EQ(clock.sleeps(), 1);
  EXPECT_EQ(clock.sleptMs(), 2000u);
}

TEST(PerformWithRetry, GivesUpAfterThirtyThreeAttempts) {
  FakeClock clock(17000000000000000);
  ScopedTimeSource useClock(&clock);
  LogCapture log;
  TestServer server;
  server.onAlways("GET", "/a", droppedAnswer());
  std::string url = server.url() + "/a";
  EXPECT_FALSE(get(url).ok);
  EXPECT_EQ(server.connectionCount(), 33u);
  std::vector<LogLine> lines = retryLines(log);
  ASSERT_EQ(lines.size(), 32u);
  for (int n = 2; n <= 32; ++n) {
    EXPECT_EQ(lines[n - 2].text, url + " connect failed!!! retry " + std::to_string(n));
    EXPECT_EQ(lines[n - 2].line, 178);
  }
  EXPECT_EQ(lines[31].text, url + " connect failed!!! max retry 32");
  EXPECT_EQ(lines[31].line, 173);
  EXPECT_EQ(lines[31].severity, google::GLOG_ERROR);
  EXPECT_EQ(clock.sleeps(), 31);
  EXPECT_EQ(clock.sleptMs(), 62000u);
}

TEST(PerformWithRetry, RetryLinesHideTheCredential) {
  FakeClock clock(17000000000000000);
  ScopedTimeSource useClock(&clock);
  LogCapture log;
  TestServer server;
  server.onSequence("POST", "/t", {droppedAnswer(), droppedAnswer(), jsonAnswer("{}")});
  std::string url = server.url() + "/t?credential=c2VjcmV0+/==";
  EXPECT_TRUE(send("POST", url).ok);
  std::vector<LogLine> lines = retryLines(log);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, server.url() + "/t?credential=*** connect failed!!! retry 2");
  EXPECT_EQ(server.requests()[0].target, "/t?credential=c2VjcmV0+/==");
}

TEST(PerformWithRetry, RealPauseBeforeTheThirdAttempt) {
  TestServer server;
  server.onSequence("GET", "/a", {droppedAnswer(), droppedAnswer(), jsonAnswer("{}")});
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(get(server.url() + "/a").ok);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(1990));
  EXPECT_LT(elapsed, std::chrono::milliseconds(4000));
}

TEST(PerformWithRetry, HttpErrorStatusIsAnAnswerNotAFailure) {
  FakeClock clock(17000000000000000);
  ScopedTimeSource useClock(&clock);
  TestServer server;
  server.onAlways("GET", "/a", jsonAnswer("{\"code\":500}", 500));
  Exchange e = get(server.url() + "/a");
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "{\"code\":500}");
  EXPECT_EQ(e.headers.rfind("HTTP/1.1 500 Internal Server Error\r\n", 0), 0u);
  EXPECT_EQ(server.connectionCount(), 1u);
  EXPECT_EQ(clock.sleeps(), 0);
}

TEST(HttpRequest, CollectsWholeAnswersUpToTheNulRule) {
  TestServer server;
  EmulatorResponse answer = jsonAnswer(std::string("{\"a\":1}\0tail", 12));
  std::string longValue(30000, 'v');
  answer.headers.push_back("X-Long: " + longValue);
  server.onAlways("GET", "/a", answer);
  Exchange e = get(server.url() + "/a");
  ASSERT_TRUE(e.ok);
  EXPECT_EQ(e.body, "{\"a\":1}");
  EXPECT_NE(e.headers.find("\r\nX-Long: " + longValue + "\r\n"), std::string::npos);
  EXPECT_EQ(e.headers.substr(e.headers.size() - 4), "\r\n\r\n");
}

TEST(HttpRequest, ABodyOfAnnouncedLengthIsCollectedWithoutRegrowing) {
  TestServer server;
  const std::string body = "{\"m\":\"" + std::string(300000, 'm') + "\"}";
  server.onAlways("GET", "/a", jsonAnswer(body));
  HttpRequest request("test", "GET", server.url() + "/a");
  HttpAnswer answer;
  std::string reason;
  ASSERT_TRUE(performRequest(request, answer, reason));
  EXPECT_EQ(answer.body, body);
  EXPECT_EQ(answer.body.capacity(), body.size());
}

// A body, or header lines, longer than the request's limit end the request at once with that
// reason; an announced body is refused before it comes.
TEST(HttpRequest, AnAnswerOverTheSizeLimitEndsTheRequestAtOnce) {
  LogCapture log;
  TestServer server;
  EmulatorResponse longHead = jsonAnswer("{}");
  longHead.headers.push_back("X-Pad: " + std::string(1000, 'p'));
  server.onAlways("GET", "/head", longHead);
  server.onAlways("GET", "/body", jsonAnswer(std::string(1001, 'b')));
  server.onAlways("GET", "/exact", jsonAnswer(std::string(1000, 'e')));
  HttpAnswer answer;
  std::string reason;
  for (const char* path : {"/head", "/body"}) {
    HttpRequest request("test", "GET", server.url() + path);
    request.answerLimitBytes = 1000;
    EXPECT_FALSE(performRequest(request, answer, reason)) << path;
    EXPECT_EQ(reason, "test failed: answer larger than 1000 bytes") << path;
    EXPECT_EQ(server.requestsTo(path).size(), 1u) << path;
  }
  EXPECT_EQ(log.count("test failed: answer larger than 1000 bytes"), 2u);
  EXPECT_TRUE(retryLines(log).empty());
  HttpRequest exact("test", "GET", server.url() + "/exact");
  exact.answerLimitBytes = 1000;
  EXPECT_TRUE(performRequest(exact, answer, reason));
  EXPECT_EQ(answer.body, std::string(1000, 'e'));
}

// Received texts are handed over in UTF-8 as they came, whatever the local code page holds;
// what is not well-formed UTF-8 is handed over as the empty text.
TEST(HttpRequest, TextsArriveAsReceivedWhenTheyAreUtf8) {
  TestServer server;
  const std::string chinese = "{\"m\":\"\xE4\xB8\xAD\"}";
  const std::string korean = "{\"m\":\"\xED\x95\x9C\"}";
  server.onSequence("GET", "/a",
                    {jsonAnswer(chinese), jsonAnswer(korean), jsonAnswer("{\"m\":\"\xC3\x28\"}")});
  EXPECT_EQ(get(server.url() + "/a").body, chinese);
  EXPECT_EQ(get(server.url() + "/a").body, korean);
  EXPECT_EQ(get(server.url() + "/a").body, "");
}

}  // namespace

namespace {

TEST(PerformWithRetry, AnAnswerCutOffMidwayLeavesNothingBehind) {
  TestServer server;
  const EmulatorResponse cutOff = delivered(jsonAnswer("{\"first\":\"answer\"}"), Delivery::cut());
  server.onSequence("GET", "/a", {cutOff, jsonAnswer("{\"second\":1}")});
  Exchange e = get(server.url() + "/a");
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "{\"second\":1}");
  EXPECT_EQ(e.headers.find("HTTP/1.1 200 OK"), 0u);
  EXPECT_EQ(e.headers.find("HTTP/1.1", 1), std::string::npos);
}

// An answer that keeps coming, but slower than the floor, ends as a transport failure after
// the floor's time, and the retry rule takes over: here at 5 bytes a second, head and body,
// which never leaves the transfer idle.
TEST(PerformWithRetry, SlowAnAttemptBelowTheFloorIsCut) {
  TestServer server;
  const EmulatorResponse drip = delivered(jsonAnswer("{\"m\":\"" + std::string(1000, 'm') + "\"}"),
                                          Delivery::drip(kFloorBytesPerSecond / 2));
  server.onSequence("GET", "/a", {drip, jsonAnswer("{}")});
  const auto start = std::chrono::steady_clock::now();
  Exchange e = get(server.url() + "/a");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(e.body, "{}");
  EXPECT_EQ(server.connectionCount(), 2u);
  EXPECT_GE(elapsed, std::chrono::seconds(kFloorSeconds));
  EXPECT_LT(elapsed, std::chrono::seconds(kFloorSeconds + 15));
}

// A deadline at the end of the clock's range is no deadline in practice: the attempt runs.
// An attempt is bounded in all, not only by the floor: an answer that comes fast enough, but for
// longer than an attempt may take, is cut there, and the retry rule takes over.
TEST(PerformWithRetry, AnAttemptEndsAtItsTimeLimitWhateverItsPace) {
  EXPECT_EQ(HttpRequest().timeLimitSeconds, kAttemptLimitSeconds);
  TestServer server;
  const std::string body = "{\"m\":\"" + std::string(200, 'm') + "\"}";
  server.onSequence(
      "GET", "/a",
      {delivered(jsonAnswer(body), Delivery::drip(4 * kFloorBytesPerSecond)), jsonAnswer("{}")});
  HttpRequest request("test", "GET", server.url() + "/a");
  request.timeLimitSeconds = 2;
  HttpAnswer answer;
  std::string reason;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(performRequest(request, answer, reason));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(answer.body, "{}");
  EXPECT_GE(elapsed, std::chrono::seconds(2));
  EXPECT_LT(elapsed, std::chrono::milliseconds(4500));
}

TEST(PerformRequest, ADeadlineFarAheadLetsTheAttemptRun) {
  TestServer server;
  server.onAlways("GET", "/a", jsonAnswer("{}"));
  HttpRequest request("test", "GET", server.url() + "/a");
  request.deadlineTicks = INT64_MAX - 1;
  HttpAnswer answer;
  std::string reason;
  EXPECT_TRUE(performRequest(request, answer, reason));
  EXPECT_EQ(answer.body, "{}");
}

}  // namespace

// Requests on one session travel on one kept connection, and each sends exactly its own
// method, header lines and body: nothing of the request before it.
TEST(TransportSession, RequestsShareAConnectionButNothingElse) {
  TestServer server(TestServerOptions::keepingFor(5000));
  server.onAlways("PUT", "/a", jsonAnswer("{}"));
  server.onAlways("POST", "/b", jsonAnswer("{}"));
  server.onAlways("GET", "/c", jsonAnswer("{}"));
  TransportSession session;
  HttpRequest put("test", "PUT", server.url() + "/a");
  put.headerLines = {"Authorization:Bearer t", "X-One:1"};
  put.body = "{\"x\":1}";
  put.followRedirects = true;
  put.timeLimitSeconds = 20;
  HttpRequest post("test", "POST", server.url() + "/b");
  post.body = "grant_type=client_credentials";
  HttpAnswer answer;
  std::string reason;
  ASSERT_TRUE(session.perform(put, answer, reason));
  ASSERT_TRUE(session.perform(post, answer, reason));
  ASSERT_TRUE(session.perform(HttpRequest("test", "GET", server.url() + "/c"), answer, reason));
  EXPECT_EQ(server.connectionCount(), 1u);
  std::vector<RecordedRequest> sent = server.requests();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1].headers,
            (std::vector<std::string>{"Host: 127.0.0.1:" + std::to_string(server.port()),
                                      "Accept: */*", "Content-Length: 29",
                                      "Content-Type: application/x-www-form-urlencoded"}));
  EXPECT_EQ(sent[1].body, "grant_type=client_credentials");
  EXPECT_EQ(sent[2].headers,
            (std::vector<std::string>{"Host: 127.0.0.1:" + std::to_string(server.port()),
                                      "Accept: */*"}));
  EXPECT_EQ(sent[2].body, "");
}

// A request sent on a kept connection that the server then closed unanswered is sent once
// more by libcurl on a new connection, within the same attempt: only a failure on the new
// connection costs an attempt. Here the second one does, which is still silent; a third
// attempt would have cost a retry line and a pause.
TEST(TransportSession, AKeptConnectionFoundClosedCostsNoAttempt) {
  FakeClock clock(17000000000000000);
  ScopedTimeSource useClock(&clock);
  LogCapture log;
  TestServer server(TestServerOptions::keepingFor(5000));
  server.onSequence("GET", "/a",
                    {jsonAnswer("{}"), droppedAnswer(), droppedAnswer(), jsonAnswer("{}")});
  TransportSession session;
  HttpAnswer answer;
  std::string reason;
  ASSERT_TRUE(session.perform(HttpRequest("test", "GET", server.url() + "/a"), answer, reason));
  ASSERT_TRUE(session.perform(HttpRequest("test", "GET", server.url() + "/a"), answer, reason));
  EXPECT_EQ(server.requests().size(), 4u);
  EXPECT_EQ(server.connectionCount(), 3u);
  EXPECT_TRUE(retryLines(log).empty());
  EXPECT_EQ(clock.sleeps(), 0);
}
