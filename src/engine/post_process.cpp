#include "engine/post_process.h"

namespace tarvex::engine {

std::string Result_AddFunc(std::string_view value, std::string_view ruleJson, const PageList& pages,
                           const FieldValueList& values) {
    (void)ruleJson, (void)pages, (void)values;
    return std::string(value);
}

}  // namespace tarvex::engine
