// Handlers of the host commands, one shape for all (see protocol/handler.h).
// Each lives in the file named after its command family.
#pragma once

#include "protocol/handler.h"

namespace palisim {

void handle_echo(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);  // 00

// Key management.
void handle_generate_key(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);        // 10
void handle_translate_to_kek(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);    // 11
void handle_translate_from_kek(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);  // 13
void handle_export_variant(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);      // 1A
void handle_import_variant(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);      // 11B

// PIN processing.
void handle_encipher_pin(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);   // 30
void handle_translate_pin(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);  // 31
void handle_verify_pin(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);     // 32
void handle_change_pin(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);     // 37
void handle_decipher_pin(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);   // 90

// Card verification values, data and MACs.
void handle_generate_cvv(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);  // 5D
void handle_verify_cvv(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);    // 5E
void handle_data_cipher(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);   // 97
void handle_generate_mac(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);  // 98
void handle_verify_mac(const Settings&, KeyCache&, const Fields&, ReplyBuffer&);    // 99

}  // namespace palisim
