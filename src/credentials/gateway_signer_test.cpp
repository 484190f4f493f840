// The gateway signer: the pieces of the string to sign, the crypto primitives and the
// seven header lines a signed request carries.
#include "credentials/gateway_signer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/fake_clock.h"

namespace {

std::string hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

GatewayIdentity signingIdentity() {
  return GatewayIdentity{"204046851", "s3cr+t/=&key", "tenant-7", "1024"};
}

}  // namespace

TEST(ExtractUrlPath, TakesThePathBetweenHostAndQuery) {
  EXPECT_EQ(extractUrlPath("https://gw.example.com/a/b?x=1"), "/a/b");
  EXPECT_EQ(extractUrlPath("https://gw.example.com/a/b#frag"), "/a/b");
  EXPECT_EQ(extractUrlPath("http://127.0.0.1:8080/translate?fileId=42"), "/translate");
  EXPECT_EQ(extractUrlPath("https://gw.example.com/"), "/");
  EXPECT_EQ(extractUrlPath("https://gw.example.com"), "");
  EXPECT_EQ(extractUrlPath("gw.example.com/a/b"), "");
  EXPECT_EQ(extractUrlPath(""), "");
}

TEST(BuildPathAndQuery, AppendsTheSortedQueryVerbatim) {
  EXPECT_EQ(buildPathAndQuery("/v2/translate", {}), "/v2/translate");
  EXPECT_EQ(buildPathAndQuery("/translate", {{"fileId", "42"}}), "/translate?fileId=42");
  EXPECT_EQ(buildPathAndQuery("/p", {{"b", ""}, {"a", "1"}}), "/p?a=1&b");
  EXPECT_EQ(buildPathAndQuery("/p?old=1", {{"includeExtendData", "false"}}),
            "/p?includeExtendData=false");
  EXPECT_EQ(buildPathAndQuery("/p?old=1", {}), "/p");
  EXPECT_EQ(buildPathAndQuery("", {{"x", "1"}}), "?x=1");
  // Byte-wise order: upper case before lower case, a prefix before its extensions.
  EXPECT_EQ(buildPathAndQuery("/p", {{"fileId", "2"}, {"file", "1"}, {"Zed", "0"}}),
            "/p?Zed=0&file=1&fileId=2");
  EXPECT_EQ(buildPathAndQuery("/t", {{"credential", "a+b/c==&d"}}), "/t?credential=a+b/c==&d");
}

TEST(BuildCanonicalHeaders, SignsTheThreeKeysAndRecordsTheirNames) {
  HeaderMap map = {{"x-ca-timestamp", "1700000000123"}, {"x-ca-key", "K"}, {"x-ca-nonce", "N"}};
  EXPECT_EQ(buildCanonicalHeaders(map), "x-ca-key:K\nx-ca-nonce:N\nx-ca-timestamp:1700000000123\n");
  EXPECT_EQ(map["x-ca-signature-headers"], "x-ca-key,x-ca-nonce,x-ca-timestamp");
  EXPECT_EQ(map.size(), 4u);
}

TEST(BuildCanonicalHeaders, SkipsOtherNamesAndLowerCasesTakenOnes) {
  HeaderMap map = {{"x-ca-Mixed", "V"}, {"x-ca-empty", ""}, {"X-Ca-Upper", "u"}, {"other", "o"}};
  EXPECT_EQ(buildCanonicalHeaders(map), "x-ca-mixed:V\nx-ca-empty:\n");
  EXPECT_EQ(map["x-ca-signature-headers"], "x-ca-Mixed,x-ca-empty");

  HeaderMap none = {{"other", "o"}};
  EXPECT_EQ(buildCanonicalHeaders(none), "");
  EXPECT_EQ(none.size(), 1u);
}

TEST(HmacSign, MatchesRfc4231Vectors) {
  EXPECT_EQ(hex(hmacSign(std::string(20, '\x0b'), "Hi There")),
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  EXPECT_EQ(hex(hmacSign("Jefe", "what do ya want for nothing?")),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(hex(hmacSign(std::string(131, '\xaa'),
                         "Test Using Larger Than Block-Size Key - Hash Key First")),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
  EXPECT_EQ(hex(hmacSign("", "")),
            "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
  EXPECT_EQ(hex(hmacSign(std::string(1, '\0'), "abc")),
            "fd7adb152c05ef80dccf50a1fa4c05d5a3ec6da95575fc312ae7c5d091836351");
}

TEST(AddGatewayHeaders, AppendsSevenLinesAfterTheCallersLinesWithAKnownSignature) {
  testing_support::FakeClock clock(17000000001234567);
  testing_support::ScopedTimeSource useClock(&clock);
  std::vector<std::string> list = {"Authorization:Bearer T", "Content-Type: application/json"};
  addGatewayHeaders(signingIdentity(), "http://127.0.0.1:1/translate?fileId=42", "GET",
                    {{"fileId", "42"}}, list, "0f8fad5b-d9cb-469f-a165-70867728950e");
  // Expected signature computed independently with openssl dgst -sha256 -hmac.
  std::vector<std::string> expected = {
      "Authorization:Bearer T",
      "Content-Type: application/json",
      "x-ca-key:204046851",
      "x-ca-nonce:0f8fad5b-d9cb-469f-a165-70867728950e",
      "x-ca-signature:6fK7AN+YHqbjU8TGT1d4BVOBXDpqmNZhBld25EJchzk=",
      "x-ca-signature-headers:x-ca-key,x-ca-nonce,x-ca-timestamp",
      "x-ca-timestamp:1700000000123",
      "x-project-id:1024",
      "x-tenant-id:tenant-7",
  };
  EXPECT_EQ(list, expected);
}

TEST(AddGatewayHeaders, UsesAFreshNonceAndMillisecondTimestampEachTime) {
  std::vector<std::string> a;
  std::vector<std::string> b;
  addGatewayHeaders(signingIdentity(), "https://gw/translate", "GET", {}, a);
  addGatewayHeaders(signingIdentity(), "https://gw/translate", "GET", {}, b);
  ASSERT_EQ(a.size(), 7u);
  ASSERT_EQ(b.size(), 7u);
  EXPECT_NE(a[1], b[1]);  // nonce
  EXPECT_NE(a[2], b[2]);  // signature

  const std::string nonce = a[1].substr(std::string("x-ca-nonce:").size());
  ASSERT_EQ(nonce.size(), 36u);
  for (size_t i = 0; i < nonce.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      EXPECT_EQ(nonce[i], '-') << nonce;
    } else {
      EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(nonce[i])) ||
                  (nonce[i] >= 'a' && nonce[i] <= 'f'))
          << nonce;
    }
  }
  const std::string stamp = a[4].substr(std::string("x-ca-timestamp:").size());
  ASSERT_EQ(stamp.size(), 13u);
  int64_t millis = std::stoll(stamp);
  int64_t now = platform::nowTicks() / 10000;
  EXPECT_LE(millis, now);
  EXPECT_GT(millis, now - 60000);
}
