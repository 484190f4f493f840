// What the masking of the emulator's secrets hides, in each place a secret can come.
#include "service/secret_mask.h"

#include <gtest/gtest.h>

namespace {

TEST(SecretMask, HidesSecretsAsSentAndEncodedAndTheCredentialValues) {
  const SecretMask mask({"s&e=c r", "", "client-secret"});
  EXPECT_EQ(mask.target("/api/uaa/oauth/token?grant_type=x&client_secret=anything&a=s%26e%3Dc%20r"),
            "/api/uaa/oauth/token?grant_type=x&client_secret=***&a=***");
  EXPECT_EQ(mask.target("/oauth2/token?x=1?credential=a+b/c==#f"),
            "/oauth2/token?x=1?credential=***#f");
  EXPECT_EQ(mask.target("/orgs/client-secret/projects"), "/orgs/***/projects");
  EXPECT_EQ(mask.body("client_id=a&client_secret=s%26e%3dc%20r&x=client-secret"),
            "client_id=a&client_secret=***&x=***");
  EXPECT_EQ(mask.body(R"({"note":"s&e=c r"})"), R"({"note":"***"})");
  EXPECT_EQ(mask.text("GET /x?client-secretclient-secret -> 200"), "GET /x?****** -> 200");

  EXPECT_EQ(mask.headerValue("authorization", "Basic abc="), "Basic ***");
  EXPECT_EQ(mask.headerValue("Proxy-Authorization", "token"), "***");
  EXPECT_EQ(mask.headerValue("X-Ca-Signature", "sig"), "***");
  EXPECT_EQ(mask.headerValue("X-Note", "said s&e=c r"), "said ***");
}

}  // namespace
