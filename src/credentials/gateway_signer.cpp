// Signed headers for the API gateway.
#include "credentials/gateway_signer.h"

#include "run/translate_job.h"

void addGatewayHeaders(const TranslateJob&, const std::string&, std::string, const QueryMap&,
                       HeaderList&) {}
