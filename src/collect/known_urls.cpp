#include "collect/known_urls.h"

namespace tarvex::collect {

std::uint64_t KnownUrls::hashOf(std::string_view url) {
    // FNV-1a over the bytes, then a final mix so the low bits used for the slot are well spread.
    std::uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : url) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h ? h : 1;  // 0 marks a free slot
}

void KnownUrls::clear() {
    std::vector<Slot>().swap(m_slots);
    m_count = 0;
    m_unstored.clear();
}

void KnownUrls::reserve(std::size_t n) {
    // At most three quarters full.
    std::size_t want = 16;
    while (want * 3 / 4 < n) want *= 2;
    if (want > m_slots.size()) grow(want);
}

void KnownUrls::grow(std::size_t slots) {
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(slots, Slot{});
    for (const Slot& s : old)
        if (s.hash) place(s.hash, s.rowId);
}

void KnownUrls::place(std::uint64_t hash, std::int64_t rowId) {
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = static_cast<std::size_t>(hash) & mask;
    while (m_slots[i].hash) i = (i + 1) & mask;
    m_slots[i] = Slot{hash, rowId};
}

void KnownUrls::addStored(std::string_view url, std::int64_t rowId) {
    if ((m_count + 1) * 4 > m_slots.size() * 3) grow(m_slots.empty() ? 16 : m_slots.size() * 2);
    place(hashOf(url), rowId);
    ++m_count;
}

void KnownUrls::addUnstored(std::string_view url) {
    m_unstored.emplace(url);
}

bool KnownUrls::contains(std::string_view url, const RowReader& read) const {
    if (!m_unstored.empty() && m_unstored.count(std::string(url))) return true;
    if (m_slots.empty()) return false;
    const std::uint64_t hash = hashOf(url);
    const std::size_t mask = m_slots.size() - 1;
    // Every row with this hash is looked at: the same address may be stored twice, and two
    // addresses may share a hash.
    for (std::size_t i = static_cast<std::size_t>(hash) & mask; m_slots[i].hash; i = (i + 1) & mask) {
        if (m_slots[i].hash != hash) continue;
        if (!read) return true;
        auto stored = read(m_slots[i].rowId);
        if (!stored || *stored == url) return true;
    }
    return false;
}

}  // namespace tarvex::collect
