// The emulator's command line and its raw request helpers.
#include "service/emulator_options.h"

#include <gtest/gtest.h>

#include "service/emulator_request.h"
#include "support/file_util.h"

namespace {

TEST(EmulatorOptions, DefaultsAndClientCredentialsFollowTheApplicationKey) {
  EmulatorOptions options;
  std::string error;
  ASSERT_TRUE(
      parseEmulatorOptions({"--app-key", "k", "--app-secret=s=1", "--port", "0"}, options, error))
      << error;
  EXPECT_EQ(options.port, 0);
  EXPECT_EQ(options.appSecret, "s=1");
  EXPECT_EQ(options.clientId, "k");
  EXPECT_EQ(options.clientSecret, "s=1");
  EXPECT_EQ(options.org, "demo-org");
  EXPECT_EQ(options.projectId, 1024u);
  EXPECT_TRUE(options.tenant.empty());

  EXPECT_EQ(options.keepAliveSeconds, 60);
  EXPECT_FALSE(options.closeConnections);
  ASSERT_TRUE(parseEmulatorOptions({"--client-id", "c", "--fail-file-ids", "3,-4,5", "--tenant",
                                    "t", "--close-connections", "--drop-connections", "2"},
                                   options, error));
  EXPECT_TRUE(options.closeConnections);
  EXPECT_EQ(options.clientId, "c");
  EXPECT_EQ(options.clientSecret, "s=1");
  EXPECT_EQ(options.failFileIds, (std::set<int64_t>{-4, 3, 5}));
  EXPECT_EQ(options.dropConnections, 2);
}

// Secrets from files keep them out of the process list; a file's last line end is no part.
TEST(EmulatorOptions, SecretsComeFromFiles) {
  const std::string dir = testing_support::makeTempDir();
  testing_support::writeFile(dir + "/app", "from-file\r\n");
  testing_support::writeFile(dir + "/client", "client\n\n");
  testing_support::writeFile(dir + "/empty", "\n");
  EmulatorOptions options;
  std::string reason;
  ASSERT_TRUE(parseEmulatorOptions({"--app-secret-file", dir + "/app"}, options, reason)) << reason;
  EXPECT_EQ(options.appSecret, "from-file");
  EXPECT_EQ(options.clientSecret, "from-file");
  ASSERT_TRUE(parseEmulatorOptions({"--client-secret-file", dir + "/client"}, options, reason));
  EXPECT_EQ(options.clientSecret, "client\n");

  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"--app-secret", "a", "--app-secret-file", dir + "/app"},
       "options --app-secret and --app-secret-file exclude each other"},
      {{"--client-secret-file", dir + "/none"}, "cannot read the secret file " + dir + "/none"},
      {{"--app-secret-file", dir + "/empty"},
       "the secret file " + dir + "/empty is empty or longer than 4096 bytes"},
  };
  for (const auto& wrong : refused) {
    EmulatorOptions fresh;
    EXPECT_FALSE(parseEmulatorOptions(wrong.first, fresh, reason));
    EXPECT_EQ(reason, wrong.second);
  }
  testing_support::removeTree(dir);
}

TEST(EmulatorOptions, RejectsWhatItCannotUse) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--port", "65536"},
                                             {"--port", "-1"},
                                             {"--token-lifetime", "0"},
                                             {"--job-duration", "1.5"},
                                             {"--fail-file-ids", "1,,2"},
                                             {"--project-id", "x"},
                                             {"--verbose", "1"},
                                             {"--close-connections=yes"},
                                             {"--keep-alive", "-1"},
                                             {"--tls-cert", "cert.pem"},
                                             {"--org"}}) {
    EmulatorOptions options;
    std::string error;
    EXPECT_FALSE(parseEmulatorOptions(args, options, error)) << args[0];
    EXPECT_NE(error.find(args[0].substr(0, args[0].find('='))), std::string::npos) << error;
  }
}

TEST(EmulatorOptions, HelpAndDescriptionComeFromTheTable) {
  std::string usage = emulatorUsage();
  EXPECT_NE(usage.find("\n  --port N                port; 0 picks a free one (8080)\n"),
            std::string::npos)
      << usage;
  EXPECT_NE(usage.find("  --client-id TEXT        gateway client id (the application key)\n"),
            std::string::npos)
      << usage;

  EmulatorOptions options;
  std::string error;
  ASSERT_TRUE(
      parseEmulatorOptions({"--app-secret", "s3cr3t", "--fail-file-ids", "4,2"}, options, error));
  std::string description = describeEmulatorOptions(options);
  EXPECT_EQ(description.find("s3cr3t"), std::string::npos) << description;
  EXPECT_NE(description.find("app-key demo-app-key, client-id demo-app-key, tenant none, "),
            std::string::npos)
      << description;
  EXPECT_NE(description.find(", fail-file-ids 2,4, "), std::string::npos) << description;
}

TEST(RecordedRequest, ReadsParametersWithoutDecoding) {
  EXPECT_EQ(parseRawParameters("credential=a+b/c==&&flag&x=%2B&credential=second"),
            (ParameterMap{{"credential", "a+b/c=="}, {"flag", ""}, {"x", "%2B"}}));
  EXPECT_TRUE(parseRawParameters("").empty());
  EXPECT_EQ(rawParameter("xb=0&&b&b=1&b=2", "b"), "");
  EXPECT_EQ(rawParameter("xb=0&b=1=2&b=3", "b"), "1=2");
  EXPECT_EQ(rawParameter("b", "c"), "");

  RecordedRequest request;
  request.target = "/translate?fileId=4?5";
  request.headers = {"authorization:  Bearer t"};
  EXPECT_EQ(request.path(), "/translate");
  EXPECT_EQ(request.query(), "fileId=4?5");
  EXPECT_EQ(request.header("Authorization"), "Bearer t");
  EXPECT_EQ(request.header("X-Other"), "");

  std::string token;
  EXPECT_TRUE(takeCredential("bearer abc", "Bearer", token));
  EXPECT_EQ(token, "abc");
  EXPECT_TRUE(takeCredential("Bearer ", "Bearer", token));
  EXPECT_EQ(token, "");
  EXPECT_FALSE(takeCredential("Bearerabc", "Bearer", token));
  EXPECT_FALSE(takeCredential("Basic abc", "Bearer", token));
}

// The first member of each name counts, as in a document, and deep nesting is refused.
TEST(RecordedRequest, ReadsACommitsFileIdWithoutADocument) {
  int64_t id = 0;
  EXPECT_TRUE(commitFileId(
      R"({"a":[{"fileId":1}],"source":{"x":{"fileId":2},"fileId":3,"fileId":4}})", id));
  EXPECT_EQ(id, 3);
  for (const std::string& wrong :
       {std::string(R"({"source":5,"source":{"fileId":3}})"),
        std::string(R"({"source":{"fileId":9223372036854775808}})"),
        std::string(R"({"source":{"fileId":3}} x)"), std::string(R"([{"source":{"fileId":3}}])"),
        R"({"a":)" + std::string(300, '[') + std::string(300, ']') +
            R"(,"source":{"fileId":3}})"}) {
    EXPECT_FALSE(commitFileId(wrong, id)) << wrong;
  }
  EXPECT_TRUE(commitFileId(
      R"({"a":)" + std::string(200, '[') + std::string(200, ']') + R"(,"source":{"fileId":7}})",
      id));
  EXPECT_EQ(id, 7);
}

}  // namespace
