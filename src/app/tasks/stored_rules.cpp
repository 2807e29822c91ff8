#include "app/tasks/stored_rules.h"

#include <random>

#include "app/tasks/settings_document.h"
#include "publish/text_cipher.h"

namespace tarvex::app {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string keyOf(const std::string& prefix) {
    return prefix.substr(4, kRulesPrefixLength - 4);
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
}  // namespace

std::string RandomRulesPrefix() {
    thread_local std::mt19937 gen{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kAlphabet) - 2);
    std::string prefix(kRulesPrefixLength, 'A');
    for (auto& c : prefix) c = kAlphabet[pick(gen)];
    return prefix;
}

std::string StoreRules(const std::string& document) {
    return StoreRulesWithPrefix(document, RandomRulesPrefix());
}

std::string StoreRulesWithPrefix(const std::string& document, const std::string& prefix) {
    return prefix + publish::enCryptText(document, keyOf(prefix));
}

std::optional<std::string> ReadStoredRules(const std::string& stored) {
    if (stored.empty()) return std::string();
    if (stored.size() <= kRulesPrefixLength) return std::nullopt;
    const std::string cipher = stored.substr(kRulesPrefixLength);
    // Whole 8-byte blocks only: a text cut short would decipher its last block into bytes
    // that were never written.
    if (cipher.size() % 16 != 0) return std::nullopt;
    for (char c : cipher)
        if (!isHex(c)) return std::nullopt;
    std::string document = publish::deCryptText(cipher, keyOf(stored.substr(0, kRulesPrefixLength)));
    // A cut at a block boundary still loses the end of the document: what is left is no object.
    if (!document.empty() && !ParseSettings(document)) return std::nullopt;
    return document;
}

}  // namespace tarvex::app
