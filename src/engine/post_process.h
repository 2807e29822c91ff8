#pragma once
// The post-processing chain a field value runs through after it is cut out of a page: the
// field rule's "txt_strips" rules, applied in order. Runs on content worker threads; keeps no
// state between calls.
#include <string>
#include <string_view>

#include "engine/page_list.h"
#include "engine/text_tokens.h"

namespace tarvex::engine {

// Applies the "txt_strips" rules of the field rule (its JSON text) to the value, with the
// content page's page list and the record's field-value list, and returns the new value.
// Until the chain's rules are in place the value comes back unchanged.
std::string Result_AddFunc(std::string_view value, std::string_view ruleJson, const PageList& pages,
                           const FieldValueList& values);

}  // namespace tarvex::engine
