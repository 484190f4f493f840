// The JSON texts the emulated endpoints and the admin interface answer with.
#pragma once

#include <functional>
#include <string>

#include "server/emulator_response.h"
#include "util/json.h"

// Writes the member `name` with the text `value`.
void addString(JsonWriter& json, const char* name, const std::string& value);

// The service's envelope {"code":"success","message":...}; `data`, when given, writes the
// members of its "data" object.
std::string envelope(const std::string& message, const std::function<void(JsonWriter&)>& data);

// A service error: HTTP `status` with {"code":status,"message":...}.
EmulatorResponse errorAnswer(int status, const std::string& message);

// An OAuth2 error of the gateway's token endpoint: {"error":...,"error_description":...}.
EmulatorResponse oauthError(int status, const std::string& error, const std::string& text);

// An answer of the admin interface: {"message":...}.
EmulatorResponse adminAnswer(int status, const std::string& message);
