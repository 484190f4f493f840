// Submitting the translate request.
#include "run/translate_job.h"

bool TranslateJob::commitTranslate() { return false; }
