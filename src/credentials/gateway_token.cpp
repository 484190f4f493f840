// The gateway token, by the OAuth2 client-credentials grant.
#include "run/translate_job.h"

std::string TranslateJob::getGatewayToken() const { return std::string(); }
