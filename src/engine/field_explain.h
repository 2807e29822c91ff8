#pragma once
// Why a field came out empty: the extraction's steps are replayed on the page text the field
// reads (the content page or its multi-level page) and the first step that gave nothing is named
// in words a rule writer acts on. Pure apart from the post-processing chain's own environment;
// any thread. Only called for fields that are already empty, so the hot path pays nothing.
#include <string>

#include "engine/field_extract.h"

namespace tarvex::engine {

// The reason text, e.g. "前边字符在页面中没有找到"; never empty.
std::string ExplainEmptyField(const FieldRule& rule, PageSource& pages, const FieldValueList& values,
                              const ExtractEnv& env = {});

}  // namespace tarvex::engine
