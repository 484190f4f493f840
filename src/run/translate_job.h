// The one job of a run: its settings, the URLs derived from them, the credentials
// obtained on the way and the texts that end up in the result document.
#pragma once

#include <cstdint>
#include <string>

#include "credentials/access_token.h"
#include "credentials/gateway_identity.h"
#include "job/translate_status.h"

// The job's operations are all defined in translate_job.cpp.
class TranslateJob {
 public:
  // --- Configuration and run ---

  // Reads and checks the configuration file at `path` and fills the job, the service URLs made
  // absolute (deriveUrls). Sends nothing and changes nothing outside the job. False when the job
  // cannot run, with the reason in `message`; a file that cannot be read or is not a JSON object
  // is also logged.
  bool loadConfig(const std::string& path);

  // Makes the three service URLs absolute: `rootUrl` joined with each path, as they are.
  void deriveUrls();

  // Clears what an earlier run left at the output path (platform::clearFile), so that no file
  // or an empty one means "no verdict" until this run writes its own. False, logged with the
  // path and the reason (also in `message`), when a result stays or what is there may not be
  // written.
  bool clearEarlierResult();

  // Does the configured work and writes the result document: "failed" with the message
  // "interrupted" once the process was asked to end (platform::InterruptWatch). True when the
  // file was written; a failure is logged with the path and the system's reason.
  bool run();

  // --- Credentials and translation: thin adapters over the request functions of credentials/
  // and job/, reading and writing the fields below. ---

  // The application's identity for signing, as the fields now hold it.
  GatewayIdentity gatewayIdentity() const;

  // The service bearer token: the kept one while at least a whole second of it remains,
  // otherwise a new one from the token endpoint; none, with the reason, when it cannot be had.
  // A non-zero `deadlineTicks` bounds its retries (see HttpRequest).
  ServiceToken getMarluneAccessToken(int64_t deadlineTicks = 0);

  // The organisation's project id as decimal text, or empty; `projectId` when already set.
  std::string lookupProjectId() const;

  // Submits the translate request. True when the service accepted it. Without a service token
  // nothing is sent: the token's reason is logged and becomes the message.
  bool commitTranslate();

  // Asks once for the job's status. A poll the service refuses with a token obtained before it
  // is made once more with a new token. Without a token the poll fails with the token's reason,
  // unless that was passing trouble. A non-zero `deadlineTicks` bounds its retries and those of
  // its token requests.
  StatusPoll getTranslateStatus(int64_t deadlineTicks = 0);

  // Polls every five seconds until the job ends or `overtime` seconds have passed.
  bool waitForTranslate();

  // Fields, in the order callers and tests rely on.
  std::string accessToken;
  int64_t tokenExpiry = 0;
  std::string accountUrl;
  std::string gatewayTokenUrl;
  std::string projectUrl;
  std::string cmdType;
  std::string rootUrl;
  std::string tokenUrl;
  std::string translateUrl;
  std::string statusUrl;
  std::string projectId;
  std::string orgId;
  std::string tenantId;
  std::string appKey;
  std::string appSecret;
  std::string requestBody;
  std::string fileId;
  std::string message;
  std::string outputPath;
  uint64_t overtime = 3600;
  std::string caFile;  // the PEM file of the only CAs trusted; empty: the system's
};
