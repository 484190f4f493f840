// The console blocks of an answer: what the requests of credentials/ and job/ show on
// standard output after an exchange, in one place for all of them.
#pragma once

#include <string>

#include "transport/http_exchange.h"

// Writes the two console blocks of an answer, "<label> CURLOPT_WRITEFUNCTION out:" with the
// body and "<label> CURLOPT_HEADERFUNCTION out:" with the header text, flushing each. Each
// text is shown in the local code page, or as received (UTF-8) when it holds a character the
// code page lacks.
void printAnswerBlocks(const std::string& label, const HttpAnswer& answer);

// performRequest, then the answer's console blocks when an exchange completed.
bool performAndPrint(const HttpRequest& request, HttpAnswer& answer, std::string& reason);
