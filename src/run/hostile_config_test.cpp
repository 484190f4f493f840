// Hostile configuration files: cut by NUL bytes, nested a million deep, carrying bytes that
// are not UTF-8 or not in the local code page, ten MiB large, and file ids at the edges of
// the signed 64-bit range.
#include <gtest/gtest.h>

#include <string>

#include "run/translate_job.h"
#include "support/file_util.h"
#include "support/log_capture.h"

using testing_support::LogCapture;
using testing_support::makeTempDir;
using testing_support::writeFile;

namespace {

const char kMinimal[] =
    R"("cmdtype":"translate","rooturl":"http://root","appsecret":"s","appkey":"k","output":"r.json")";

class HostileConfig : public ::testing::Test {
 protected:
  bool loadText(const std::string& text) {
    std::string path = dir_ + "/job.json";
    writeFile(path, text);
    job = TranslateJob();
    return job.loadConfig(path);
  }
  bool load(const std::string& members) {
    return loadText("{" + std::string(kMinimal) + "," + members + "}");
  }
  // True when the loader refused the file as unreadable, logging it and recording why.
  bool refusedAsUnreadable(const std::string& text) {
    LogCapture log;
    if (loadText(text)) return false;
    std::vector<testing_support::LogLine> lines = log.lines();
    return !job.message.empty() && lines.size() == 1 && lines[0].text == " load config error!" &&
           lines[0].severity == google::GLOG_ERROR;
  }

  std::string dir_ = makeTempDir();
  TranslateJob job;
};

}  // namespace

TEST_F(HostileConfig, TextThatIsNotOneJsonObjectIsUnreadable) {
  for (const std::string& text :
       {std::string(), std::string("cmdtype=translate"), "[{" + std::string(kMinimal) + "}]",
        "{" + std::string(kMinimal) + "} {}", "{" + std::string(kMinimal) + "}x"}) {
    EXPECT_TRUE(refusedAsUnreadable(text)) << text;
  }
}

TEST_F(HostileConfig, NulInsideAStringCutsTheFile) {
  EXPECT_TRUE(refusedAsUnreadable("{" + std::string(kMinimal) + ",\"appkey\":\"a" +
                                  std::string(1, '\0') + "b\"}"));
}

TEST_F(HostileConfig, AMillionLevelsOfNestingAreRefusedWithoutCrash) {
  const size_t depth = 1000000;
  std::string objects;
  for (size_t i = 0; i < depth; ++i) objects += "{\"a\":";
  EXPECT_TRUE(refusedAsUnreadable(std::string(depth, '[')));
  EXPECT_TRUE(refusedAsUnreadable(objects));
  EXPECT_TRUE(refusedAsUnreadable(std::string(depth, '[') + std::string(depth, ']')));
}

TEST_F(HostileConfig, SettingsKeepTheirBytesUnvalidated) {
  // Invalid UTF-8 and characters outside the local code page are taken and sent as they are.
  ASSERT_TRUE(
      load("\"appkey\":\"\xFF\xC3\x28\",\"requestbody\":{\"source\":{\"fileId\":1},"
           "\"title\":\"\xED\x95\x9C\xF0\x9F\x98\x80\"}"));
  EXPECT_EQ(job.appKey, "k");  // the first "appkey" counts
  EXPECT_EQ(job.requestBody,
            "{\"source\":{\"fileId\":1},\"title\":\"\xED\x95\x9C\xF0\x9F\x98\x80\"}");
  ASSERT_TRUE(loadText(R"({"appkey":")"
                       "\xFF\xC3\x28"
                       R"(","cmdtype":"t","rooturl":"http://r","appsecret":"s","output":"o"})"));
  EXPECT_EQ(job.appKey, "\xFF\xC3\x28");
}

TEST_F(HostileConfig, TenMiBRequestBodyIsKeptWhole) {
  std::string title(10 * 1024 * 1024, 'x');
  ASSERT_TRUE(load(R"("requestbody":{"title":")" + title + R"(","source":{"fileId":5}})"));
  EXPECT_TRUE(job.requestBody == R"({"title":")" + title + R"(","source":{"fileId":5}})");
  EXPECT_EQ(job.fileId, "5");
}

TEST_F(HostileConfig, FileIdIsASignedSixtyFourBitInteger) {
  for (const char* id : {"9223372036854775807", "-9223372036854775808", "0"}) {
    ASSERT_TRUE(load(std::string(R"("requestbody":{"source":{"fileId":)") + id + "}}")) << id;
    EXPECT_EQ(job.fileId, id);
  }
  for (const char* id : {"9223372036854775808", "-9223372036854775809", "18446744073709551615",
                         "18446744073709551616"}) {
    EXPECT_FALSE(load(std::string(R"("requestbody":{"source":{"fileId":)") + id + "}}")) << id;
    EXPECT_EQ(job.message, "file id is invalid!") << id;
  }
}

// Settings that would add header lines, break a URL or reach another scheme than HTTP or
// HTTPS, or a CA file that cannot serve, fail the load with their reason, before any request.
TEST_F(HostileConfig, SettingsThatWouldChangeTheRequestsFailTheLoad) {
  const std::pair<std::string, std::string> cases[] = {
      {R"("tenantid":"t1\r\nX-Injected: 1","orgid":"o")", "tenantid holds a control character"},
      {R"("orgid":"o\u007f")", "orgid holds a control character"},
      {R"("statusurl":"/translate\n")", "statusurl holds a control character"},
      {R"("accounturl":"file:///etc")", "accounturl is not an http or https URL"},
      {R"("accounturl":"http://h:65536")",
       "accounturl is not a valid URL (Port number was not a decimal number between 0 and "
       "65535)"},
      {R"("tokenurl":"/a b")", "tokenurl makes no valid URL with rooturl (Bad path)"},
      {R"("accounturl":"http://h","projecturl":"/{org-id}","orgid":"a b")",
       "projecturl makes no valid URL with accounturl (Bad path)"},
      {R"("cafile":"ca\n.pem")", "cafile holds a control character"},
      {R"("cafile":"/nowhere/ca.pem")", "cafile cannot be read: No such file or directory"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(load(c.first)) << c.first;
    EXPECT_EQ(job.message, c.second) << c.first;
  }
  auto loadRoot = [this](const std::string& root) {
    return loadText(R"({"cmdtype":"t","appsecret":"s","appkey":"k","output":"o","rooturl":")" +
                    root + "\"}");
  };
  for (const char* root : {"file:///etc/passwd", "ftp://h", "dict://h", "HTTPX://h"}) {
    EXPECT_FALSE(loadRoot(root)) << root;
    EXPECT_EQ(job.message, "rooturl is not an http or https URL") << root;
  }
  // A URL must name its scheme: libcurl would guess one for some requests, https for others.
  for (const char* root : {"h", "ftp.example.org", "127.0.0.1:8080", "h:8080/base"}) {
    EXPECT_FALSE(loadRoot(root)) << root;
    EXPECT_EQ(job.message, "rooturl names no scheme: begin it with http:// or https://") << root;
  }
  for (const char* root : {"HTTPS://h", "Http://h"}) {
    EXPECT_TRUE(loadRoot(root)) << root << ": " << job.message;
  }
}
