// Reading the gateway's project answer.
#pragma once

#include <string>

// "project"."id" of an answer object (local code page) as unsigned decimal text when it is
// an integer from 0 to 2^64-1; empty otherwise.
std::string projectIdFromAnswer(const std::string& answer);
