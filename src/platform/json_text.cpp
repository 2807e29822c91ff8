#include "platform/json_text.h"

namespace tarvex::platform {

bool JsonNestingWithinLimit(std::string_view text) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;  // the escaped character cannot end the string
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
            case '"':
                inString = true;
                break;
            case '[':
            case '{':
                if (++depth > kMaxJsonNesting) return false;
                break;
            case ']':
            case '}':
                // Unbalanced closers make the text invalid; the parser reports that.
                if (depth > 0) --depth;
                break;
            default:
                break;
        }
    }
    return true;
}

std::string JsonTooDeepMessage() {
    return "JSON嵌套超过" + std::to_string(kMaxJsonNesting) + "层";
}

}  // namespace tarvex::platform
