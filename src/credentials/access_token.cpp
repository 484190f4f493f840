// The service access token: obtained with the application credential, kept and renewed.
#include "run/translate_job.h"

std::string TranslateJob::getMarluneAccessToken() { return accessToken; }
