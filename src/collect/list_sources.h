#pragma once
// The start addresses of a task's list stage: single addresses, composed number ranges
// ("列表合成=") and text files ("文本导入="), expanded in order without duplicates, and the
// direct mode in which those addresses are content pages inserted straight into the task
// database.
#include <string>
#include <vector>

#include "collect/run_context.h"

namespace tarvex::collect {

// Most addresses one composition entry may produce; a larger range is cut with a warning.
inline constexpr long long kMaxComposedAddresses = 1000000;

// Addresses of the list settings' "More_urls", one per line joined by CR LF. Relative import
// paths are taken from the program folder. Problems that do not stop the expansion (a cut
// range, a step of 0 read as 1, an unreadable entry) are added to `warnings` when given.
std::string ListSources(const std::string& listSettingsJson, const std::string& programFolder,
                        std::vector<std::string>* warnings = nullptr);
// True when the list settings are empty or name no list area ("More_begin" or "More_end" empty).
bool IsDirectMode(const std::string& listSettingsJson);
// Splits a CR LF / LF joined address text into its non-empty lines.
std::vector<std::string> SplitLines(const std::string& text);

// Inserts the addresses as queued content rows, in scripts of at most 1000 statements, each
// run in one transaction under the slot database lock, skipping known addresses. Waits
// `intervalMs` before each batch and honours pause and stop. Returns the inserted count.
int InsertDirectAddresses(RunContext& run, const std::vector<std::string>& addresses, int intervalMs);

// Loads every address of the task database into run.known ("&&" read as stored) and
// returns the row count.
std::size_t LoadKnownUrls(RunContext& run);

}  // namespace tarvex::collect
