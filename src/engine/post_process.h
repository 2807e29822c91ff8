#pragma once
// The post-processing chain a field value runs through after it is cut out of a page: the
// field rule's "txt_strips" rules, applied in order. Runs on content worker threads; keeps no
// state between calls.
//
// What the chain needs from outside the engine — the program folder with the word lists, the
// page fetch behind "访问网页", the keyword dictionary, the random source — comes in a ChainEnv:
// passed explicitly, or set once for the process (SetChainEnv) by whoever starts the program.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/keyword_dictionary.h"
#include "engine/page_list.h"
#include "engine/post_rules.h"
#include "engine/random_source.h"
#include "engine/text_tokens.h"

namespace tarvex::engine {

struct ChainEnv {
    std::string programFolder;  // workspace root ending with "/"; "" finds no list files
    PageFetcher fetch;          // "访问网页"; empty: the rule gives an empty value
    KeywordDictionary* dictionary = &KeywordDictionary::shared();  // not owned
    RandomSource* random = &DefaultRandom();                       // not owned
};

// The environment chains use when none is passed. Set it before content workers start; a
// later call affects chains that start after it. Safe from any thread.
void SetChainEnv(ChainEnv env);
std::shared_ptr<const ChainEnv> CurrentChainEnv();

// The rule new fields start with: "html过滤" with filter 21 ("删首尾空白"), so values go out
// without the line breaks and indentation around them on the page. A rule like any other: the
// field editor lists it and the user can delete it.
std::string TrimWhiteSpaceRule();

// Applies the "txt_strips" rules of the field rule (its JSON text) to the value, with the
// content page's page list and the record's field-value list, and returns the new value.
// Rules apply in order; a rule of an unknown type, or one that is no JSON object, is skipped;
// the two stop rules can end the chain early.
std::string applyPostRules(std::string_view value, std::string_view ruleJson, const PageList& pages,
                           const FieldValueList& values);
std::string applyPostRules(std::string_view value, std::string_view ruleJson, const PageList& pages,
                           const FieldValueList& values, const ChainEnv& env);
// The same over the rules already taken out of the field rule (each a JSON text).
std::string RunPostRules(std::string_view value, const std::vector<std::string>& txtStrips, const PageList& pages,
                         const FieldValueList& values, const ChainEnv& env);

}  // namespace tarvex::engine
