#pragma once
// The names of collected fields become the column names of a task's content table, where
// SQLite compares them ignoring ASCII letter case. These checks refuse, before anything is
// stored or created, every name that would break that table. They are the one place for the
// rule, used by the settings save, the catalogue commands, tarvex-cli and the field editor.
// Pure; any thread.
#include <optional>
#include <string>
#include <vector>

namespace tarvex::app {

// Why `name` cannot name a field, as a message that quotes it; nullopt when it can. Refused:
// the empty name, a double quote, a control character (line breaks and tabs included), and the
// name of a fixed column (id, url, geturl, getc, postc, or beginning with postc_; letter case
// ignored).
std::optional<std::string> FieldNameProblem(const std::string& name);

// The message for the first of `names` that repeats an earlier one, letter case ignored; nullopt
// when all differ.
std::optional<std::string> RepeatedFieldName(const std::vector<std::string>& names);

// Every column a settings document asks for — the titles of "fieldsAll" and the list-page fields
// named in "Morepage" — checked with FieldNameProblem and for repeats: each title once among the
// fields; a list-page field may name a content field exactly (they share one column) but not
// differ from it, or from another list-page field, only in letter case. nullopt when every column
// can be created.
std::optional<std::string> FieldColumnsProblem(const std::string& settingsJson);

// The first field or list-page field named like a fixed column, or nullopt.
std::optional<std::string> FixedColumnClash(const std::string& settingsJson);

}  // namespace tarvex::app
