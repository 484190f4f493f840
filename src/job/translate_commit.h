// Submitting the translate request.
#pragma once

#include <string>

#include "credentials/gateway_identity.h"

// PUTs `requestBody` to `translateUrl` (redirects followed) with "Authorization:Bearer
// <token>", signed in gateway mode; prints the answer's console blocks. True when the service
// accepted the job (readCommitAnswer); false, with the reason in `message`, when the exchange
// failed.
bool submitTranslate(const std::string& translateUrl, const std::string& requestBody,
                     const std::string& token, const GatewayIdentity& identity,
                     std::string& message);

// The service's verdict on a commit answer (UTF-8, as received): true when its "code" is the
// string "success" in any letter case. A string "message" replaces `message` either way.
// Takes the answer by value: one moved in is parsed, and its message kept, without a copy.
bool readCommitAnswer(std::string answer, std::string& message);
