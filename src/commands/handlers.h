// Handlers of the host commands, one shape for all (see protocol/handler.h).
// Each lives in the file named after its command family.
#pragma once

#include "protocol/handler.h"

namespace palisim {

void handle_echo(const Settings& s, const Fields& f, ReplyBuffer& r);  // 00

// Key management.
void handle_generate_key(const Settings& s, const Fields& f, ReplyBuffer& r);        // 10
void handle_translate_to_kek(const Settings& s, const Fields& f, ReplyBuffer& r);    // 11
void handle_translate_from_kek(const Settings& s, const Fields& f, ReplyBuffer& r);  // 13
void handle_export_variant(const Settings& s, const Fields& f, ReplyBuffer& r);      // 1A
void handle_import_variant(const Settings& s, const Fields& f, ReplyBuffer& r);      // 11B

// PIN processing.
void handle_encipher_pin(const Settings& s, const Fields& f, ReplyBuffer& r);   // 30
void handle_translate_pin(const Settings& s, const Fields& f, ReplyBuffer& r);  // 31
void handle_verify_pin(const Settings& s, const Fields& f, ReplyBuffer& r);     // 32
void handle_change_pin(const Settings& s, const Fields& f, ReplyBuffer& r);     // 37
void handle_decipher_pin(const Settings& s, const Fields& f, ReplyBuffer& r);   // 90

// Card verification values, data and MACs.
void handle_generate_cvv(const Settings& s, const Fields& f, ReplyBuffer& r);  // 5D
void handle_verify_cvv(const Settings& s, const Fields& f, ReplyBuffer& r);    // 5E
void handle_data_cipher(const Settings& s, const Fields& f, ReplyBuffer& r);   // 97
void handle_generate_mac(const Settings& s, const Fields& f, ReplyBuffer& r);  // 98
void handle_verify_mac(const Settings& s, const Fields& f, ReplyBuffer& r);    // 99

}  // namespace palisim
