// Standard Base64 through OpenSSL's Base64 filter over a memory sink, in no-newline mode.
#include "util/base64.h"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

struct BioChainFree {
  void operator()(BIO* bio) const { BIO_free_all(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioChainFree>;

}  // namespace

std::string base64Encode(const std::string& bytes) {
  if (bytes.empty()) return std::string();
  BioPtr filter(BIO_new(BIO_f_base64()));
  BioPtr sink(BIO_new(BIO_s_mem()));
  if (!filter || !sink) return std::string();
  BIO_set_flags(filter.get(), BIO_FLAGS_BASE64_NO_NL);
  BIO_push(filter.get(), sink.get());
  BIO* memory = sink.release();  // now freed with the chain
  size_t written = 0;
  while (written < bytes.size()) {
    int piece = static_cast<int>(std::min<size_t>(bytes.size() - written, INT_MAX));
    int n = BIO_write(filter.get(), bytes.data() + written, piece);
    if (n <= 0) return std::string();
    written += static_cast<size_t>(n);
  }
  if (BIO_flush(filter.get()) != 1) return std::string();
  BUF_MEM* buffer = nullptr;
  BIO_get_mem_ptr(memory, &buffer);
  if (buffer == nullptr) return std::string();
  return std::string(buffer->data, buffer->length);
}
