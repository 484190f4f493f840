// Hides the emulator's secrets in what it keeps and logs: the application and client secrets
// and the application's Basic credential wherever they appear, as sent or percent-encoded, and
// the values that carry credentials (the "credential" and "client_secret" parameters of a
// query or form, Authorization lines, the gateway signature). Each is replaced by "***".
#pragma once

#include <string>
#include <vector>

class SecretMask {
 public:
  // Hides each of `secrets` (empty ones ignored) and their percent-encoded forms.
  explicit SecretMask(const std::vector<std::string>& secrets);

  // `text` with every secret hidden: for log lines and answers.
  std::string text(std::string text) const;

  // A request target: secrets hidden, and the credential parameters of its query.
  std::string target(const std::string& target) const;

  // A request body: secrets hidden, and the credential fields of a form.
  std::string body(std::string body) const;

  // The value of a header line named `name`: secrets hidden; the credential after the scheme
  // of an Authorization or Proxy-Authorization value (the whole value without a scheme); the
  // whole x-ca-signature value.
  std::string headerValue(const std::string& name, std::string value) const;

 private:
  std::vector<std::string> hidden_;  // longest first, so that no part of one is left showing
};
