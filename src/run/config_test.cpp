#include "run/config.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "run/translate_job.h"
#include "support/file_util.h"
#include "support/log_capture.h"

using testing_support::LogCapture;
using testing_support::LogLine;
using testing_support::makeTempDir;
using testing_support::writeFile;

namespace {

const char kMinimal[] =
    R"("cmdtype":"translate","rooturl":"http://root","appsecret":"s","appkey":"k","output":"r.json")";

class LoadConfig : public ::testing::Test {
 protected:
  // Loads `{<members>}` written to a file; the job is in `job`.
  bool load(const std::string& members) { return loadText("{" + members + "}"); }
  bool loadText(const std::string& text) {
    std::string path = dir_ + "/job.json";
    writeFile(path, text);
    job = TranslateJob();
    return job.loadConfig(path);
  }

  std::string dir_ = makeTempDir();
  TranslateJob job;
};

TEST_F(LoadConfig, MinimalConfigFillsDefaultsAndJoinsUrls) {
  ASSERT_TRUE(load(kMinimal));
  EXPECT_EQ(job.cmdType, "translate");
  EXPECT_EQ(job.message, "account url is empty!");
  EXPECT_EQ(job.gatewayTokenUrl, "/api/uaa/oauth/token");
  EXPECT_EQ(job.projectUrl,
            "/api/org-permission/v4/orgs/{org-id}/projects?includeExtendData=false");
  EXPECT_EQ(job.tokenUrl, "http://root/oauth2/token");
  EXPECT_EQ(job.translateUrl, "http://root/v2/translate");
  EXPECT_EQ(job.statusUrl, "http://root/translate");
  EXPECT_EQ(job.overtime, 3600u);
  EXPECT_EQ(job.requestBody, "");
  EXPECT_EQ(job.fileId, "");
  EXPECT_EQ(job.outputPath, "r.json");
  EXPECT_EQ(job.projectId, "");
}

TEST_F(LoadConfig, FirstMissingSettingInTableOrderIsReported) {
  EXPECT_FALSE(load(R"("rooturl":"http://r","appsecret":"s","appkey":"k","output":"o")"));
  EXPECT_EQ(job.message, "cmdtype is empty!");
  EXPECT_FALSE(
      load(R"("cmdtype":"","rooturl":"http://r","appsecret":"s","appkey":"k","output":"o")"));
  EXPECT_EQ(job.message, "cmdtype is empty!");
  EXPECT_FALSE(
      load(R"("cmdtype":"t","tenantid":"t1","rooturl":"http://r","appsecret":"s","appkey":"k")"));
  EXPECT_EQ(job.message, "orgid is empty!");
  EXPECT_FALSE(load(R"("cmdtype":"t","appsecret":"s","appkey":"k","output":"o")"));
  EXPECT_EQ(job.message, "root url is empty!");
  EXPECT_FALSE(load(R"("cmdtype":"t","rooturl":"http://r","output":"o")"));
  EXPECT_EQ(job.message, "appsecret is empty!");
  EXPECT_FALSE(load(R"("cmdtype":"t","rooturl":"http://r","appsecret":"s","output":"o")"));
  EXPECT_EQ(job.message, "appkey is empty!");
  EXPECT_FALSE(load(R"("cmdtype":"t","rooturl":"http://r","appsecret":"s","appkey":"k")"));
  EXPECT_EQ(job.message, "resultJson is empty!");
  // The file id is checked before the output.
  EXPECT_FALSE(
      load(R"("cmdtype":"t","rooturl":"http://r","appsecret":"s","appkey":"k","requestbody":{})"));
  EXPECT_EQ(job.message, "file id is invalid!");
}

// The system's reason for a file that cannot be read, the parser's for one that is no JSON
// (at the byte of the file where it stopped, a byte-order mark counted).
TEST_F(LoadConfig, UnreadableOrNonObjectFilesFailWithTheirReason) {
  EXPECT_FALSE(loadText("[1,2]"));
  EXPECT_EQ(job.message, "not a JSON object");
  EXPECT_FALSE(loadText("\xEF\xBB\xBF{\"cmdtype\":\"t\"} trailing"));
  EXPECT_EQ(job.message,
            "invalid JSON at byte 19: The document root must not be followed by other values.");
  EXPECT_FALSE(loadText(""));
  EXPECT_EQ(job.message, "invalid JSON at byte 0: The document is empty.");
  job = TranslateJob();
  EXPECT_FALSE(job.loadConfig(dir_ + "/missing.json"));
  EXPECT_EQ(job.message, std::strerror(ENOENT));
  EXPECT_FALSE(job.loadConfig(dir_));  // a directory
  EXPECT_FALSE(job.loadConfig(""));
  EXPECT_EQ(job.message, "file path is empty!");
}

TEST_F(LoadConfig, ByteOrderMarkBytesAreSkippedOneByOne) {
  EXPECT_TRUE(loadText("\xEF\xBB\xBF{" + std::string(kMinimal) + "}"));
  EXPECT_TRUE(loadText("\xBB\xBF{" + std::string(kMinimal) + "}"));
  EXPECT_TRUE(loadText("\xEF\xBF{" + std::string(kMinimal) + "}"));
  EXPECT_FALSE(loadText("\xBF\xBB{" + std::string(kMinimal) + "}"));
}

TEST_F(LoadConfig, TextAfterANulByteIsIgnored) {
  EXPECT_TRUE(loadText("{" + std::string(kMinimal) + "}" + std::string(1, '\0') + "garbage"));
}

TEST_F(LoadConfig, NonStringOrEmptyValuesCountAsAbsent) {
  ASSERT_TRUE(load(std::string(kMinimal) +
                   R"(,"tokenurl":5,"translateurl":"","statusurl":null,"accounturl":["a"])"));
  EXPECT_EQ(job.tokenUrl, "http://root/oauth2/token");
  EXPECT_EQ(job.translateUrl, "http://root/v2/translate");
  EXPECT_EQ(job.statusUrl, "http://root/translate");
  EXPECT_EQ(job.message, "account url is empty!");
}

TEST_F(LoadConfig, FirstOfDuplicateMembersCounts) {
  ASSERT_TRUE(load(std::string(kMinimal) + R"(,"cmdtype":"waitfor","overtime":5,"overtime":7)"));
  EXPECT_EQ(job.cmdType, "translate");
  EXPECT_EQ(job.overtime, 5u);
}

TEST_F(LoadConfig, UrlsAreJoinedWithoutNormalisation) {
  ASSERT_TRUE(load(R"("cmdtype":"t","rooturl":"http://h/","appsecret":"s","appkey":"k",)"
                   R"("output":"o","statusurl":"status","accounturl":"http://acc")"));
  EXPECT_EQ(job.tokenUrl, "http://h//oauth2/token");
  EXPECT_EQ(job.statusUrl, "http://h/status");
  EXPECT_EQ(job.message, "");
}

TEST_F(LoadConfig, OvertimeTakesOnlyNonNegativeIntegers) {
  struct Case {
    const char* value;
    uint64_t expected;
  } cases[] = {{"0", 0},
               {"60", 60},
               {"-5", 3600},
               {"60.5", 3600},
               {"\"60\"", 3600},
               {"null", 3600},
               {"1e2", 3600},
               {"18446744073709551615", UINT64_MAX},
               {"18446744073709551616", 3600}};
  for (const Case& c : cases) {
    ASSERT_TRUE(load(std::string(kMinimal) + ",\"overtime\":" + c.value)) << c.value;
    EXPECT_EQ(job.overtime, c.expected) << c.value;
  }
}

// Mistakes that are no errors load as before, each with one warning that says what was meant.
TEST_F(LoadConfig, UnknownKeysAndOddOvertimesAreWarnedOf) {
  LogCapture log;
  ASSERT_TRUE(load(std::string(kMinimal) +
                   R"(,"appKey":"k2","tenantId":"t","comment":"x","comment":"y","overtime":5.0)"));
  EXPECT_EQ(job.tenantId, "");
  EXPECT_EQ(job.overtime, 3600u);
  const std::vector<std::string> expected = {
      "unknown key appKey (did you mean appkey?)", "unknown key tenantId (did you mean tenantid?)",
      "unknown key comment",
      "overtime 5.0 is not a whole number of seconds from 0 up; 3600 s are "
      "used in its place"};
  std::vector<std::string> warnings;
  for (const LogLine& line : log.lines()) {
    if (line.severity == google::GLOG_WARNING) warnings.push_back(line.text);
  }
  EXPECT_EQ(warnings, expected);
  // However many there are, the first ten are named and the rest counted.
  std::string many = kMinimal;
  for (int i = 0; i < 100000; ++i) many += ",\"key" + std::to_string(i) + "\":" + std::to_string(i);
  LogCapture all;
  ASSERT_TRUE(load(many));
  EXPECT_EQ(all.count("unknown key key"), 10u);
  EXPECT_EQ(all.count("and 99990 more unknown keys"), 1u);
  for (const char* overtime : {"\"5\"", "-5", "1e300", "null"}) {
    LogCapture again;
    ASSERT_TRUE(load(std::string(kMinimal) + ",\"overtime\":" + overtime));
    EXPECT_EQ(again.count(std::string("overtime ") + overtime + " is not a whole number"), 1u);
  }
}

TEST_F(LoadConfig, RequestBodyIsCompactedAndGivesTheFileId) {
  ASSERT_TRUE(load(std::string(kMinimal) +
                   R"(,"requestbody": { "source" : {"fileId": 12345678901, "n":"a\"b"},)"
                   R"( "target":[ "zh" , 1.5, true, null ] })"));
  EXPECT_EQ(job.requestBody,
            R"({"source":{"fileId":12345678901,"n":"a\"b"},"target":["zh",1.5,true,null]})");
  EXPECT_EQ(job.fileId, "12345678901");

  ASSERT_TRUE(load(std::string(kMinimal) + R"(,"requestbody":{"source":{"fileId":-7}})"));
  EXPECT_EQ(job.fileId, "-7");
  ASSERT_TRUE(
      load(std::string(kMinimal) + R"(,"requestbody":{"source":{"fileId":9223372036854775807}})"));
  EXPECT_EQ(job.fileId, "9223372036854775807");
  // Not an object: ignored.
  ASSERT_TRUE(load(std::string(kMinimal) + R"(,"requestbody":"{\"source\":{\"fileId\":1}}")"));
  EXPECT_EQ(job.requestBody, "");
}

TEST_F(LoadConfig, UnusableFileIdsFailTheLoad) {
  const char* bodies[] = {
      R"({"source":{"fileId":"12345678901"}})", R"({"source":{"fileId":1.0}})",
      R"({"source":{"fileId":1e3}})",           R"({"source":{"fileId":9223372036854775808}})",
      R"({"source":[{"fileId":1}]})",           R"({"fileId":1})"};
  for (const char* body : bodies) {
    EXPECT_FALSE(load(std::string(kMinimal) + ",\"requestbody\":" + body)) << body;
    EXPECT_EQ(job.message, "file id is invalid!") << body;
  }
}

// The output path is converted to the local code page; one that has no name there, or that
// could not be written for its folder, is refused before any request.
TEST_F(LoadConfig, TheOutputPathMustBeNamedLocallyInAFolderThatIsThere) {
  auto loadOutput = [this](const std::string& output) {
    return load(R"("cmdtype":"t","rooturl":"http://r","appsecret":"s","appkey":"k","output":")" +
                output + "\"");
  };
  ASSERT_TRUE(loadOutput(dir_ + "/\xE4\xB8\xAD.json"));
  EXPECT_EQ(job.outputPath, dir_ + "/\xD6\xD0.json");
  for (const char* name : {"/\xED\x95\x9C.json", "/Ergebnis-\xC3\xA4.json", "/\xC3\x28.json"}) {
    EXPECT_FALSE(loadOutput(dir_ + name)) << name;
    EXPECT_EQ(job.message, "output " + dir_ + name +
                               " has no name in the local code page (GBK): a character outside "
                               "it, or bytes that are no UTF-8");
  }
  EXPECT_FALSE(loadOutput(dir_));
  EXPECT_EQ(job.message, "output " + dir_ + " is a directory");
  EXPECT_FALSE(loadOutput(dir_ + "/job.json/r.json"));
  EXPECT_EQ(job.message,
            "output " + dir_ + "/job.json/r.json its folder " + dir_ + "/job.json is no directory");
  EXPECT_FALSE(loadOutput(dir_ + "/missing/r.json"));
  EXPECT_EQ(
      job.message.rfind(
          "output " + dir_ + "/missing/r.json its folder " + dir_ + "/missing cannot be used: ", 0),
      0u);
}

TEST_F(LoadConfig, GatewayModeNeedsAnOrganisation) {
  ASSERT_TRUE(load(std::string(kMinimal) + R"(,"tenantid":"","orgid":"")"));
  ASSERT_TRUE(load(std::string(kMinimal) + R"(,"tenantid":"t","orgid":"o")"));
  EXPECT_EQ(job.tenantId, "t");
  EXPECT_EQ(job.orgId, "o");
}

TEST(ExtractFileId, ReadsOnlyASignedSixtyFourBitInteger) {
  EXPECT_EQ(extractFileId(R"({"source":{"fileId":42}})"), "42");
  EXPECT_EQ(extractFileId(R"({"source":{"fileId":-9223372036854775808}})"), "-9223372036854775808");
  EXPECT_EQ(extractFileId(R"({"source":{"fileId":42}} x)"), "");
  EXPECT_EQ(extractFileId(R"({"source":null})"), "");
  EXPECT_EQ(extractFileId(""), "");
}

}  // namespace
