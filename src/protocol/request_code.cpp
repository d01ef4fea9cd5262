#include "protocol/request_code.h"

namespace palisim {

std::string_view request_code(std::string_view request) {
  if (request.empty()) return {};
  // The first '>' ends the request; a '#' after it belongs to no field.
  const std::string_view fields = request.substr(1, request.find('>', 1) - 1);
  const size_t end = fields.find('#');
  return end == std::string_view::npos ? std::string_view() : fields.substr(0, end);
}

}  // namespace palisim
