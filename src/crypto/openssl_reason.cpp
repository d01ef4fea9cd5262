#include "crypto/openssl_reason.h"

#include <openssl/err.h>

#include <cstring>

namespace palisim {

std::string take_openssl_reason() {
  unsigned long first = ERR_get_error();
  ERR_clear_error();
  if (first == 0) return "unknown reason";
  if (ERR_GET_LIB(first) == ERR_LIB_SYS) return std::strerror(ERR_GET_REASON(first));
  const char* reason = ERR_reason_error_string(first);
  return reason ? reason : "unknown reason";
}

}  // namespace palisim
