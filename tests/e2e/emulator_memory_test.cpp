// The emulator's memory under what a careless or hostile client sends: bodies far larger than
// it keeps, and thousands of the largest requests it journals. Reads the peak from /proc: a
// Linux test, slow for the gigabytes it sends.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/emulator_process.h"
#include "transport/http_exchange.h"

using namespace testing_support;

namespace {

const size_t kMiB = 1024 * 1024;

// The peak resident memory of process `pid` (VmHWM), in bytes; a failure, and 0, when unknown.
size_t peakMemory(long pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmHWM:") == 0) return std::stoul(line.substr(6)) * 1024;
  }
  ADD_FAILURE() << "no VmHWM for process " << pid;
  return 0;
}

// A chunked body of `mebibytes` MiB to `port`, sent until the emulator refuses it; what it
// answered.
std::string sendChunkedBody(int port, size_t mebibytes) {
  namespace asio = boost::asio;
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  boost::system::error_code error;
  socket.connect({asio::ip::address_v4::loopback(), static_cast<uint16_t>(port)}, error);
  std::string head = "PUT /v2/translate HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
  asio::write(socket, asio::buffer(head), error);
  const std::string chunk = "100000\r\n" + std::string(kMiB, 'z') + "\r\n";
  for (size_t i = 0; i < mebibytes && !error; ++i) asio::write(socket, asio::buffer(chunk), error);
  char answer[64] = {};
  socket.read_some(asio::buffer(answer, sizeof answer - 1), error);
  return answer;
}

// A PUT as large as the journal keeps: a 64 KiB body and a 60 KiB header line.
HttpRequest maximalRequest(const std::string& url) {
  HttpRequest request("put", "PUT", url + "/v2/translate");
  request.headerLines = {"X-Large: " + std::string(60 * 1024, 'h')};
  request.body = std::string(64 * 1024, 'b');
  return request;
}

TEST(EmulatorMemory, StaysWithinItsBoundsWhateverArrivesSlow) {
  EmulatorProcess emulator(MARLUNE_EMULATOR, {});
  ASSERT_NE(emulator.port(), 0);
  // 20 bodies of 64 MiB at once: the bytes held across connections are bounded.
  std::vector<std::thread> senders;
  std::vector<std::string> answers(20);
  for (size_t i = 0; i < answers.size(); ++i) {
    senders.emplace_back([&, i] { answers[i] = sendChunkedBody(emulator.port(), 64); });
  }
  for (std::thread& sender : senders) sender.join();
  for (const std::string& answer : answers) {
    EXPECT_EQ(answer.rfind("HTTP/1.1 413 ", 0), 0u) << answer;
  }
  EXPECT_LT(peakMemory(emulator.pid()), 100 * kMiB);

  // 10,000 of the largest entries: the journal keeps within its 32 MiB.
  const HttpRequest request = maximalRequest(emulator.url());
  std::string reason;
  for (int i = 0; i < 10000; ++i) {
    HttpAnswer answer;
    ASSERT_TRUE(performRequest(request, answer, reason)) << i << ": " << reason;
  }
  HttpAnswer journal;
  ASSERT_TRUE(performRequest(HttpRequest("get", "GET", emulator.url() + "/__emulator/requests"),
                             journal, reason))
      << reason;
  rapidjson::Document entries;
  ASSERT_FALSE(entries.Parse(journal.body.c_str()).HasParseError());
  EXPECT_GT(entries.Size(), 100u);
  EXPECT_NE(journal.headerText.find("X-Journal-Dropped: " + std::to_string(10000 - entries.Size())),
            std::string::npos);
  EXPECT_LT(peakMemory(emulator.pid()), 32 * kMiB + 50 * 1000 * 1000);
}

}  // namespace
