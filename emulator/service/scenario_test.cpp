// Reading scenarios: what a valid one says, and the reason given for each kind of mistake.
#include "service/scenario.h"

#include <gtest/gtest.h>

namespace {

TEST(Scenario, ReadsEveryMemberAndNamesWhatIsWrong) {
  Scenario scenario;
  std::string error;
  ASSERT_TRUE(
      parseScenario(R"({"jobs": {"-7": ["processing", {"status": "failed", "message": "m"}]},
      "faults": [{"endpoint": "projects", "request": 3, "times": 2, "action": "drip",
                  "bytesPerSecond": 9},
                 {"endpoint": "status", "fileId": "-3", "request": 1, "action": "drop"}],
      "tokenLifetime": 5, "jobDuration": 0})",
                    scenario, error))
      << error;
  EXPECT_EQ(scenario.jobs[-7][1].message, "m");
  EXPECT_FALSE(scenario.faults[0].covers(2));
  EXPECT_TRUE(scenario.faults[0].covers(4));
  EXPECT_FALSE(scenario.faults[0].covers(5));
  EXPECT_EQ(scenario.faults[0].amount, 9);
  EXPECT_FALSE(scenario.faults[0].forFile);
  EXPECT_TRUE(scenario.faults[1].forFile);
  EXPECT_EQ(scenario.faults[1].fileId, -3);
  EXPECT_EQ(scenario.jobDuration, 0);
  EXPECT_FALSE(scenario.seeded);

  // Faults by chance, by rhythm and with drawn delays; steps that last a time.
  ASSERT_TRUE(parseScenario(R"({"seed": 42,
      "jobs": {"5": [{"status": "processing", "seconds": 30}, "success"]},
      "faults": [{"endpoint": "status", "request": 2, "every": 3, "action": "drop"},
                 {"endpoint": "token", "request": 1, "probability": 0.25, "times": 4,
                  "action": "delay", "delay": {"distribution": "lognormal", "medianMs": 300,
                  "sigma": 0.5}},
                 {"endpoint": "token", "request": 1, "action": "status", "status": 429,
                  "body": "", "headers": {"Retry-After": "3"}}]})",
                            scenario, error))
      << error;
  EXPECT_EQ(scenario.seed, 42u);
  EXPECT_EQ(scenario.jobs[5][0].seconds, 30);
  const FaultRule& everyThird = scenario.faults[0];
  EXPECT_FALSE(everyThird.covers(3));
  EXPECT_TRUE(everyThird.covers(4));
  EXPECT_TRUE(everyThird.covers(1000000));  // with a rhythm it goes on
  EXPECT_FALSE(everyThird.covers(1000001));
  EXPECT_EQ(scenario.faults[1].probability, 0.25);
  EXPECT_FALSE(scenario.faults[1].covers(5));
  EXPECT_EQ(scenario.faults[1].delay.medianMs, 300);
  EXPECT_EQ(scenario.faults[2].headers[0],
            std::make_pair(std::string("Retry-After"), std::string("3")));

  const std::pair<const char*, const char*> mistakes[] = {
      {"[]", "a scenario must be one JSON object"},
      {R"({"job": {}})", "unknown member \"job\""},
      {R"({"jobs": {"x1": ["success"]}})", "\"jobs\": \"x1\" is no file id, or one given twice"},
      {R"({"commits": {"7": {"code": "", "message": ""}, "07": {"code": "", "message": ""}}})",
       "\"commits\": \"07\" is no file id, or one given twice"},
      {R"({"jobs": {"1": ["success", "failed"]}})",
       "\"jobs\" \"1\": step 2 must be \"processing\", \"success\" or {\"status\": \"failed\", "
       "\"message\": TEXT}, or an object of a status with \"seconds\" (1 or more)"},
      {R"({"commits": {"1": {"code": 5, "message": ""}}})",
       "\"commits\" \"1\": needs {\"code\": TEXT, \"message\": TEXT}"},
      {R"({"faults": [{"endpoint": "token", "request": 1, "action": "status", "status": 204,
          "body": ""}]})",
       "\"faults\" 1: \"status\" needs \"status\" (200-599, not 204 or 304) and \"body\" "
       "(TEXT)"},
      {R"({"faults": [{"endpoint": "token", "request": 1, "times": 0, "action": "drop"}]})",
       "\"faults\" 1: \"times\" must be 1 or more"},
      {R"({"faults": [{"endpoint": "token", "request": 1, "action": "delay"}]})",
       "\"faults\" 1: \"delay\" needs \"ms\" (0 or more) or \"delay\": {\"distribution\": "
       "\"uniform\", \"lowerMs\", \"upperMs\"} or {\"distribution\": \"lognormal\", "
       "\"medianMs\", \"sigma\" (0 to 10)}"},
      {R"({"faults": [{"endpoint": "token", "request": 1, "action": "delay", "ms": 1,
          "delay": {"distribution": "uniform", "lowerMs": 1, "upperMs": 2}}]})",
       "\"faults\" 1: \"delay\" needs \"ms\" (0 or more) or \"delay\": {\"distribution\": "
       "\"uniform\", \"lowerMs\", \"upperMs\"} or {\"distribution\": \"lognormal\", "
       "\"medianMs\", \"sigma\" (0 to 10)}"},
      {R"({"faults": [{"endpoint": "token", "request": 1, "probability": 1.5, "action": "drop"}]})",
       "\"faults\" 1: \"probability\" must be a number from 0 to 1"},
      {R"({"faults": [{"endpoint": "token", "request": 1, "every": 0, "action": "drop"}]})",
       "\"faults\" 1: \"every\" must be 1 or more"},
      {R"({"faults": [{"endpoint": "token", "request": 1, "action": "status", "status": 503,
          "body": "", "headers": {"Content-Length": "3"}}]})",
       "\"faults\" 1: \"headers\" must be an object of header names to one-line texts, without "
       "the lines the emulator sets itself"},
      {R"({"seed": -1})", "\"seed\" must be a whole number from 0 to 9223372036854775807"},
      {R"({"faults": [7]})", "\"faults\" 1: must be an object"},
      {R"({"faults": [{"endpoint": "token", "fileId": "1", "request": 1, "action": "drop"}]})",
       "\"faults\" 1: \"fileId\" must be a file id as text, for translate or status"},
      {R"({"faults": [{"endpoint": "status", "fileId": 1, "request": 1, "action": "drop"}]})",
       "\"faults\" 1: \"fileId\" must be a file id as text, for translate or status"},
  };
  for (const auto& mistake : mistakes) {
    EXPECT_FALSE(parseScenario(mistake.first, scenario, error)) << mistake.first;
    EXPECT_EQ(error, mistake.second) << mistake.first;
  }
}

}  // namespace
