// The control port's bodies: inject rules and journal entries as JSON, and
// a rule read from a JSON object with the checks of an inject section.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "server/control_exchange.h"
#include "server/request_journal.h"

namespace palisim {

// "control-3", "command-line-1", "file-2": a rule's id as listed.
std::string rule_id(const ListedRule& rule);

// A rule as GET /inject lists it.
nlohmann::json rule_json(const ListedRule& rule);

// A journal entry as GET /requests lists it.
nlohmann::json entry_json(const JournalEntry& entry);

// The fields of an inject section and `times`, from a JSON object. On a
// refusal returns false with the message (the file's, where it has one).
bool rule_from_json(const nlohmann::json& body, InjectRule& rule, std::string& error);

}  // namespace palisim
