#pragma once
// The addresses a task already has: every row of its database and every address queued in the
// current run. Kept as 64-bit hashes with the row id of each stored address, so a task with a
// million rows costs about 32 MB instead of a copy of every address; a hash hit is confirmed
// against the row's stored address, so two addresses that share a hash are never confused.
// Lookups and inserts take constant time. Not thread-safe: one run's list stage owns it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tarvex::collect {

class KnownUrls {
public:
    // Reads the stored address of a row (nullopt when it cannot). Confirms a hash hit.
    using RowReader = std::function<std::optional<std::string>(std::int64_t rowId)>;

    // An address stored in the task database as row `rowId` (> 0).
    void addStored(std::string_view url, std::int64_t rowId);
    // An address known in this run without a row of its own (its insert failed).
    void addUnstored(std::string_view url);
    // True when the address is stored or known in this run. A hash hit on a stored row is
    // confirmed with `read`; when there is no reader, or it cannot read the row, the hit counts
    // as known, so an address is never inserted twice.
    bool contains(std::string_view url, const RowReader& read = {}) const;

    // Addresses held.
    std::size_t size() const { return m_count + m_unstored.size(); }
    void clear();
    // Makes room for n stored addresses without growing again.
    void reserve(std::size_t n);
    // Bytes held by the table (for the benchmark's report).
    std::size_t memoryBytes() const { return m_slots.capacity() * sizeof(Slot); }

private:
    struct Slot {
        std::uint64_t hash = 0;  // 0 = free
        std::int64_t rowId = 0;
    };
    static std::uint64_t hashOf(std::string_view url);
    void grow(std::size_t minSlots);
    void place(std::uint64_t hash, std::int64_t rowId);

    std::vector<Slot> m_slots;  // open addressing, linear probing, a power of two long
    std::size_t m_count = 0;
    std::unordered_set<std::string> m_unstored;
};

}  // namespace tarvex::collect
