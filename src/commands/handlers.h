// Handlers of the host commands, one shape for all (see protocol/handler.h).
// Each lives in the file named after its command family.
#pragma once

#include "commands/request_context.h"
#include "protocol/handler.h"

namespace palisim {

void handle_echo(RequestContext& c);  // 00

// Key management.
void handle_generate_key(RequestContext& c);        // 10
void handle_translate_to_kek(RequestContext& c);    // 11
void handle_translate_from_kek(RequestContext& c);  // 13
void handle_export_variant(RequestContext& c);      // 1A
void handle_import_variant(RequestContext& c);      // 11B

// PIN processing.
void handle_encipher_pin(RequestContext& c);   // 30
void handle_translate_pin(RequestContext& c);  // 31
void handle_verify_pin(RequestContext& c);     // 32
void handle_change_pin(RequestContext& c);     // 37
void handle_decipher_pin(RequestContext& c);   // 90

// Card verification values, data and MACs.
void handle_generate_cvv(RequestContext& c);  // 5D
void handle_verify_cvv(RequestContext& c);    // 5E
void handle_data_cipher(RequestContext& c);   // 97
void handle_generate_mac(RequestContext& c);  // 98
void handle_verify_mac(RequestContext& c);    // 99

}  // namespace palisim
