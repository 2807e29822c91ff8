#pragma once
// The stored form of a task's settings document in the catalogue (`vorn_task.rules`): 30
// random alphanumeric characters, whose characters 5 to 30 are the key, followed by the
// document enciphered with that key. Pure functions; any thread.
#include <optional>
#include <string>

namespace tarvex::app {

inline constexpr std::size_t kRulesPrefixLength = 30;

// 30 characters, each drawn uniformly from A–Z, a–z, 0–9.
std::string RandomRulesPrefix();

// Enciphers a settings document under a fresh prefix; two calls never share a prefix (in
// practice), so the stored text changes at every write.
std::string StoreRules(const std::string& document);
// The same with a given prefix (tests and callers that must reproduce a text).
std::string StoreRulesWithPrefix(const std::string& document, const std::string& prefix);

// The document held by a stored text. An empty stored text is a task without a document ("").
// nullopt when the text is not a stored document: shorter than the prefix, its cipher part empty,
// not hexadecimal or not whole blocks (a text cut short), or deciphering to text that is neither
// empty nor a JSON object (nested within the JSON limit).
std::optional<std::string> ReadStoredRules(const std::string& stored);

}  // namespace tarvex::app
