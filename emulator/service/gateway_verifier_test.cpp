// The gateway checks, fed with requests that the client's own signer signed.
#include "service/gateway_verifier.h"

#include <gtest/gtest.h>

#include "support/emulator_test_support.h"
#include "support/fake_clock.h"
#include "util/base64.h"

using emulator_test::clientSigned;
using emulator_test::gatewayIdentity;
using emulator_test::withHeader;

namespace {

const int64_t kStartTicks = 17000000000000000;  // 2023-11-14 22:13:20 UTC
const int64_t kStartMillis = kStartTicks / 10000;
const int64_t kMinuteMillis = 60 * 1000;

GatewayVerifier verifier() { return GatewayVerifier("key-1", "secret+/=&1", "tenant-7"); }

TEST(GatewayVerifier, AcceptsEachRequestTheClientSigns) {
  testing_support::FakeTime time(kStartTicks);
  GatewayVerifier gateway = verifier();
  GatewayIdentity job = gatewayIdentity();
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

// Requests signed by hand with signatures computed by an independent tool:
//   printf '%s' "<string to sign>" | openssl dgst -sha256 -hmac 'secret+/=&1' -binary | base64
// with the string to sign "<method>\nx-ca-key:key-1\nx-ca-nonce:0f8fad5b-d9cb-469f-a165-
// 70867728950e\nx-ca-timestamp:1700000000123\n<path and query>" (OpenSSL 3.0).
TEST(GatewayVerifier, AcceptsKnownAnswerSignatures) {
  struct Vector {
    const char* method;
    const char* target;
    const char* signature;
  };
  const Vector vectors[] = {
      {"GET", "/translate?fileId=-42", "5WZquZVYTGE8I0H56cYtLSd2javzE0WuZtincaDBzfY="},
      {"PUT", "/v2/translate", "xKgXfh8B86eqP4gBJx0P9U2q34/hSn5ISMbLTT2Gkvs="},
      {"POST", "/oauth2/token?credential=a2V5LTE6c2VjcmV0Ky89JjE=",
       "hSb0CJmMF6vgPsNLwDxkeZ7pUH/8SaSUZVQ4ci2UWi0="},
      {"GET", "/api/org-permission/v4/orgs/o/projects?includeExtendData=false",
       "+88hbiAEv1uMM3w0Mbo/wbngLyAkaHz2XYakQzZMNBI="},
  };
  for (const Vector& v : vectors) {
    RecordedRequest request;
    request.method = v.method;
    request.target = v.target;
    request.headers = {"x-ca-key:key-1",
                       "x-ca-nonce:0f8fad5b-d9cb-469f-a165-70867728950e",
                       std::string("x-ca-signature:") + v.signature,
                       "x-ca-signature-headers:x-ca-key,x-ca-nonce,x-ca-timestamp",
                       "x-ca-timestamp:1700000000123",
                       "x-project-id:1024",
                       "x-tenant-id:tenant-7"};
    GatewayVerifier gateway = verifier();
    EXPECT_EQ(gateway.verify(request, kStartMillis, "1024", true), "") << v.target;
  }
}

TEST(GatewayVerifier, RebuildsTheStringToSignFromTheRawRequest) {
  RecordedRequest request;
  request.method = "GET";
  request.target = "/p/q?b=&a=1+2/3==&C=x";
  request.headers = {"X-Ca-Nonce:n-1", "x-ca-key:k", "x-ca-timestamp:1700000000000",
                     "x-ca-signature-headers:x-ca-key,x-ca-nonce,x-ca-timestamp"};
  // Query sorted byte-wise, a bare name for the empty value, nothing decoded.
  EXPECT_EQ(GatewayVerifier::rebuildStringToSign(request),
            "GET\nx-ca-key:k\nx-ca-nonce:n-1\nx-ca-timestamp:1700000000000\n"
            "/p/q?C=x&a=1+2/3==&b");

  request.headers.back() = "x-ca-signature-headers:x-ca-key,x-ca-timestamp";
  EXPECT_EQ(GatewayVerifier::rebuildStringToSign(request), "");
  request.headers.back() = "x-ca-signature-headers:x-ca-key,x-ca-nonce,x-ca-timestamp,x-ca-other";
  EXPECT_EQ(GatewayVerifier::rebuildStringToSign(request), "");
}

TEST(GatewayVerifier, NamesTheFirstMissingLine) {
  testing_support::FakeTime time(kStartTicks);
  GatewayIdentity job = gatewayIdentity("1024");
  RecordedRequest good = clientSigned("PUT", "/v2/translate", {}, job);
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
  GatewayIdentity job = gatewayIdentity("1024");
  RecordedRequest good = clientSigned("GET", "/translate?fileId=42", {{"fileId", "42"}}, job);
  auto check = [&](const RecordedRequest& request) {
    GatewayVerifier gateway = verifier();
    return gateway.verify(request, kStartMillis, "1024", true);
  };
  EXPECT_EQ(check(good), "");

  std::string signature = good.header("x-ca-signature");
  signature[3] = signature[3] == 'A' ? 'B' : 'A';
  EXPECT_EQ(check(withHeader(good, "x-ca-signature", signature)), "x-ca-signature mismatch");

  RecordedRequest otherFile = good;
  otherFile.target = "/translate?fileId=43";
  EXPECT_EQ(check(otherFile), "x-ca-signature mismatch");
  RecordedRequest otherMethod = good;
  otherMethod.method = "PUT";
  EXPECT_EQ(check(otherMethod), "x-ca-signature mismatch");
  EXPECT_EQ(check(withHeader(good, "x-ca-nonce", "another-nonce")), "x-ca-signature mismatch");

  EXPECT_EQ(check(withHeader(good, "x-ca-key", "key-2")), "x-ca-key unknown");
  EXPECT_EQ(check(withHeader(good, "x-tenant-id", "tenant-8")), "x-tenant-id mismatch");
  EXPECT_EQ(check(withHeader(good, "x-project-id", "1025")), "x-project-id mismatch");
  EXPECT_EQ(check(withHeader(good, "x-ca-signature-headers", "x-ca-key,x-ca-timestamp")),
            "x-ca-signature-headers incomplete");
  EXPECT_EQ(check(withHeader(good, "x-ca-timestamp", "17000000000x0")), "x-ca-timestamp malformed");

  GatewayIdentity wrongSecret = job;
  wrongSecret.appSecret = "secret+/=&2";
  EXPECT_EQ(check(clientSigned("GET", "/translate?fileId=42", {{"fileId", "42"}}, wrongSecret)),
            "x-ca-signature mismatch");
}

TEST(GatewayVerifier, ANonceIsGoodForOneRequest) {
  testing_support::FakeTime time(kStartTicks);
  GatewayVerifier gateway = verifier();
  RecordedRequest request = clientSigned("PUT", "/v2/translate", {}, gatewayIdentity());
  EXPECT_EQ(gateway.verify(request, kStartMillis, "1024", false), "");
  EXPECT_EQ(gateway.verify(request, kStartMillis + 1000, "1024", false), "x-ca-nonce replayed");
  // A request that failed its signature check does not use its nonce up.
  RecordedRequest fresh = clientSigned("PUT", "/v2/translate", {}, gatewayIdentity());
  EXPECT_EQ(
      gateway.verify(withHeader(fresh, "x-ca-signature", "AAAA"), kStartMillis, "1024", false),
      "x-ca-signature mismatch");
  EXPECT_EQ(gateway.verify(fresh, kStartMillis, "1024", false), "");
  // Once its timestamp has left the window, a replay fails on the timestamp.
  EXPECT_EQ(gateway.verify(request, kStartMillis + 16 * kMinuteMillis, "1024", false),
            "x-ca-timestamp outside 15 minutes");
  // So such nonces are forgotten: only the latest one is still remembered.
  EXPECT_EQ(gateway.rememberedNonces(), 2u);
  time.advanceMillis(16 * kMinuteMillis);
  RecordedRequest later = clientSigned("PUT", "/v2/translate", {}, gatewayIdentity());
  EXPECT_EQ(gateway.verify(later, kStartMillis + 16 * kMinuteMillis, "1024", false), "");
  EXPECT_EQ(gateway.rememberedNonces(), 1u);
}

TEST(GatewayVerifier, TimestampsMustLieWithinFifteenMinutes) {
  testing_support::FakeTime time(kStartTicks);
  GatewayVerifier gateway = verifier();
  auto signedNow = [] { return clientSigned("PUT", "/v2/translate", {}, gatewayIdentity()); };
  EXPECT_EQ(gateway.verify(signedNow(), kStartMillis + 15 * kMinuteMillis, "1", false), "");
  EXPECT_EQ(gateway.verify(signedNow(), kStartMillis - 15 * kMinuteMillis, "1", false), "");
  EXPECT_EQ(gateway.verify(signedNow(), kStartMillis + 15 * kMinuteMillis + 1, "1", false),
            "x-ca-timestamp outside 15 minutes");
  EXPECT_EQ(gateway.verify(signedNow(), kStartMillis - 15 * kMinuteMillis - 1, "1", false),
            "x-ca-timestamp outside 15 minutes");
}

TEST(GatewayVerifier, TellsSignedRequestsFromPlainOnes) {
  RecordedRequest plain;
  plain.headers = {"Authorization:Bearer t", "Content-Type: application/json"};
  EXPECT_FALSE(GatewayVerifier::carriesGatewayHeaders(plain));
  for (const char* name : {"X-Ca-Nonce", "x-tenant-id", "X-Project-Id"}) {
    RecordedRequest marked = plain;
    marked.headers.push_back(std::string(name) + ":v");
    EXPECT_TRUE(GatewayVerifier::carriesGatewayHeaders(marked)) << name;
  }
}

}  // namespace
