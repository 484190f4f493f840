// Querying the job's status and waiting for its end.
#include "run/translate_job.h"

int TranslateJob::getTranslateStatus() { return kStatusFailed; }
int TranslateJob::parseTranslateStatus(const std::string&) { return kStatusFailed; }
bool TranslateJob::waitForTranslate() { return false; }
