// The gateway checks, fed with requests that the client's own signer signed.
#include "gateway_verifier.h"

#include <gtest/gtest.h>

#include "emulator_test_support.h"
#include "support/fake_clock.h"

using emulator_test::clientSigned;
using emulator_test::gatewayJob;
using emulator_test::withHeader;

namespace {

const int64_t kStartTicks = 17000000000000000;  // 2023-11-14 22:13:20 UTC
const int64_t kStartMillis = kStartTicks / 10000;
const int64_t kMinuteMillis = 60 * 1000;

GatewayVerifier verifier() { return GatewayVerifier("key-1", "secret+/=&1", "tenant-7"); }

TEST(GatewayVerifier, AcceptsEachRequestTheClientSigns) {
  testing_support::FakeTime time(kStartTicks);
  GatewayVerifier gateway = verifier();
  TranslateJob job = gatewayJob();
  std::string credential = base64Encode("key-1:secret+/=&1");  // holds "+", "/" and "="
  ASSERT_NE(credential.find_first_of("+/="), std::string::npos);

  EXPECT_EQ(gateway.verify(clientSigned("POST", "/oauth2/token?credential=" + credential,
                                        {{"credential", credential}}, job),
                           kStartMillis, "1024", false),
            "");
  EXPECT_EQ(gateway.verify(clientSigned("GET",
                                        "/api/org-permission/v4/orgs/o/projects"
                                        "?includeExtendData=false",
                                        {{"includeExtendData", "false"}}, job),
                           kStartMillis, "1024", false),
            "");
  job.projectId = "1024";
  EXPECT_EQ(
      gateway.verify(clientSigned("PUT", "/v2/translate", {}, job), kStartMillis, "1024", true),
      "");
  EXPECT_EQ(gateway.verify(clientSigned("GET", "/translate?fileId=-42", {{"fileId", "-42"}}, job),
                           kStartMillis, "1024", true),
            "");
}

TEST(GatewayVerifier, RebuildsTheStringToSignFromTheRawRequest) {
  EmulatorRequest request;
  request.method = "GET";
  request.target = "/p/q?b=&a=1+2/3==&C=x";
  request.headers = {{"X-Ca-Nonce", "n-1"},
                     {"x-ca-key", "k"},
                     {"x-ca-timestamp", "1700000000000"},
                     {"x-ca-signature-headers", "x-ca-key,x-ca-nonce,x-ca-timestamp"}};
  // Query sorted byte-wise, a bare name for the empty value, nothing decoded.
  EXPECT_EQ(GatewayVerifier::rebuildStringToSign(request),
            "GET\nx-ca-key:k\nx-ca-nonce:n-1\nx-ca-timestamp:1700000000000\n"
            "/p/q?C=x&a=1+2/3==&b");

  request.headers.back().second = "x-ca-key,x-ca-timestamp";
  EXPECT_EQ(GatewayVerifier::rebuildStringToSign(request), "");
  request.headers.back().second = "x-ca-key,x-ca-nonce,x-ca-timestamp,x-ca-other";
  EXPECT_EQ(GatewayVerifier::rebuildStringToSign(request), "");
}

TEST(GatewayVerifier, NamesTheFirstMissingLine) {
  testing_support::FakeTime time(kStartTicks);
  TranslateJob job = gatewayJob("1024");
  EmulatorRequest good = clientSigned("PUT", "/v2/translate", {}, job);
  for (const char* name : {"x-ca-key", "x-ca-nonce", "x-ca-signature", "x-ca-signature-headers",
                           "x-ca-timestamp", "x-project-id", "x-tenant-id"}) {
    GatewayVerifier gateway = verifier();
    EXPECT_EQ(gateway.verify(withHeader(good, name, ""), kStartMillis, "1024", true),
              std::string(name) + " missing");
  }
  // Before a project was looked up, the client sends no "x-project-id" at all.
  GatewayVerifier gateway = verifier();
  EXPECT_EQ(gateway.verify(withHeader(good, "x-project-id", ""), kStartMillis, "1024", false), "");
}

TEST(GatewayVerifier, RejectsTamperedRequests) {
  testing_support::FakeTime time(kStartTicks);
  TranslateJob job = gatewayJob("1024");
  EmulatorRequest good = clientSigned("GET", "/translate?fileId=42", {{"fileId", "42"}}, job);
  auto check = [&](const EmulatorRequest& request) {
    GatewayVerifier gateway = verifier();
    return gateway.verify(request, kStartMillis, "1024", true);
  };
  EXPECT_EQ(check(good), "");

  std::string signature = good.header("x-ca-signature");
  signature[3] = signature[3] == 'A' ? 'B' : 'A';
  EXPECT_EQ(check(withHeader(good, "x-ca-signature", signature)), "x-ca-signature mismatch");

  EmulatorRequest otherFile = good;
  otherFile.target = "/translate?fileId=43";
  EXPECT_EQ(check(otherFile), "x-ca-signature mismatch");
  EmulatorRequest otherMethod = good;
  otherMethod.method = "PUT";
  EXPECT_EQ(check(otherMethod), "x-ca-signature mismatch");
  EXPECT_EQ(check(withHeader(good, "x-ca-nonce", "another-nonce")), "x-ca-signature mismatch");

  EXPECT_EQ(check(withHeader(good, "x-ca-key", "key-2")), "x-ca-key unknown");
  EXPECT_EQ(check(withHeader(good, "x-tenant-id", "tenant-8")), "x-tenant-id mismatch");
  EXPECT_EQ(check(withHeader(good, "x-project-id", "1025")), "x-project-id mismatch");
  EXPECT_EQ(check(withHeader(good, "x-ca-signature-headers", "x-ca-key,x-ca-timestamp")),
            "x-ca-signature-headers incomplete");
  EXPECT_EQ(check(withHeader(good, "x-ca-timestamp", "17000000000x0")), "x-ca-timestamp malformed");

  TranslateJob wrongSecret = job;
  wrongSecret.appSecret = "secret+/=&2";
  EXPECT_EQ(check(clientSigned("GET", "/translate?fileId=42", {{"fileId", "42"}}, wrongSecret)),
            "x-ca-signature mismatch");
}

TEST(GatewayVerifier, ANonceIsGoodForOneRequest) {
  testing_support::FakeTime time(kStartTicks);
  GatewayVerifier gateway = verifier();
  EmulatorRequest request = clientSigned("PUT", "/v2/translate", {}, gatewayJob());
  EXPECT_EQ(gateway.verify(request, kStartMillis, "1024", false), "");
  EXPECT_EQ(gateway.verify(request, kStartMillis + 1000, "1024", false), "x-ca-nonce replayed");
  // A request that failed its signature check does not use its nonce up.
  EmulatorRequest fresh = clientSigned("PUT", "/v2/translate", {}, gatewayJob());
  EXPECT_EQ(
      gateway.verify(withHeader(fresh, "x-ca-signature", "AAAA"), kStartMillis, "1024", false),
      "x-ca-signature mismatch");
  EXPECT_EQ(gateway.verify(fresh, kStartMillis, "1024", false), "");
  // Once its timestamp has left the window, a replay fails on the timestamp.
  EXPECT_EQ(gateway.verify(request, kStartMillis + 16 * kMinuteMillis, "1024", false),
            "x-ca-timestamp outside 15 minutes");
}

TEST(GatewayVerifier, TimestampsMustLieWithinFifteenMinutes) {
  testing_support::FakeTime time(kStartTicks);
  GatewayVerifier gateway = verifier();
  auto signedNow = [] { return clientSigned("PUT", "/v2/translate", {}, gatewayJob()); };
  EXPECT_EQ(gateway.verify(signedNow(), kStartMillis + 15 * kMinuteMillis, "1", false), "");
  EXPECT_EQ(gateway.verify(signedNow(), kStartMillis - 15 * kMinuteMillis, "1", false), "");
  EXPECT_EQ(gateway.verify(signedNow(), kStartMillis + 15 * kMinuteMillis + 1, "1", false),
            "x-ca-timestamp outside 15 minutes");
  EXPECT_EQ(gateway.verify(signedNow(), kStartMillis - 15 * kMinuteMillis - 1, "1", false),
            "x-ca-timestamp outside 15 minutes");
}

TEST(GatewayVerifier, TellsSignedRequestsFromPlainOnes) {
  EmulatorRequest plain;
  plain.headers = {{"Authorization", "Bearer t"}, {"Content-Type", "application/json"}};
  EXPECT_FALSE(GatewayVerifier::carriesGatewayHeaders(plain));
  for (const char* name : {"X-Ca-Nonce", "x-tenant-id", "X-Project-Id"}) {
    EmulatorRequest marked = plain;
    marked.headers.emplace_back(name, "v");
    EXPECT_TRUE(GatewayVerifier::carriesGatewayHeaders(marked)) << name;
  }
}

}  // namespace
