// Signed headers for the API gateway.
#include "credentials/gateway_signer.h"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/evp.h>

#include <climits>
#include <memory>

#include "run/translate_job.h"

namespace {

struct BioChainFree {
  void operator()(BIO* bio) const { BIO_free_all(bio); }
};
using BioChain = std::unique_ptr<BIO, BioChainFree>;

}  // namespace

void addGatewayHeaders(const TranslateJob&, const std::string&, std::string, const QueryMap&,
                       HeaderList&) {}

std::string base64Encode(const std::string& bytes) {
  if (bytes.empty()) return std::string();
  BioChain sink(BIO_new(BIO_s_mem()));
  BioChain filter(BIO_new(BIO_f_base64()));
  if (!sink || !filter) return std::string();
  BIO_set_flags(filter.get(), BIO_FLAGS_BASE64_NO_NL);
  BIO* memory = sink.get();
  BIO_push(filter.get(), sink.release());  // the filter now owns the sink

  size_t written = 0;
  while (written < bytes.size()) {
    size_t step = bytes.size() - written;
    if (step > INT_MAX) step = INT_MAX;
    int n = BIO_write(filter.get(), bytes.data() + written, static_cast<int>(step));
    if (n <= 0) return std::string();
    written += static_cast<size_t>(n);
  }
  if (BIO_flush(filter.get()) != 1) return std::string();
  BUF_MEM* text = nullptr;
  BIO_get_mem_ptr(memory, &text);
  return text == nullptr ? std::string() : std::string(text->data, text->length);
}
