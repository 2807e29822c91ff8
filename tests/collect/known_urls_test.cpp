// The known-address set: hashes with row ids, confirmed against the stored address.
#include "collect/known_urls.h"

#include <gtest/gtest.h>

#include <map>

using tarvex::collect::KnownUrls;

TEST(KnownUrls, AHashHitCountsOnlyWhenTheStoredAddressIsTheSame) {
    KnownUrls known;
    known.addStored("http://h/1.html", 7);
    std::map<std::int64_t, std::optional<std::string>> rows{{7, "http://h/1.html"}};
    auto read = [&](std::int64_t id) { return rows.at(id); };

    EXPECT_TRUE(known.contains("http://h/1.html", read));
    EXPECT_FALSE(known.contains("http://h/2.html", read));

    // Row 7 now holds another address (two addresses sharing a hash look exactly like this):
    // the hit is not taken for the address.
    rows[7] = "http://h/other.html";
    EXPECT_FALSE(known.contains("http://h/1.html", read));
    // A row that cannot be read counts as known, so nothing is ever inserted twice.
    rows[7] = std::nullopt;
    EXPECT_TRUE(known.contains("http://h/1.html", read));
    // Without a reader a hit is taken as it is.
    EXPECT_TRUE(known.contains("http://h/1.html"));
}

TEST(KnownUrls, EveryRowOfAnAddressIsLookedAt) {
    // The same address stored twice; the first row's address was cleared since.
    KnownUrls known;
    known.addStored("http://h/a", 1);
    known.addStored("http://h/a", 2);
    std::map<std::int64_t, std::string> rows{{1, ""}, {2, "http://h/a"}};
    EXPECT_TRUE(known.contains("http://h/a", [&](std::int64_t id) { return std::optional<std::string>(rows.at(id)); }));
    rows[2] = "";
    EXPECT_FALSE(
        known.contains("http://h/a", [&](std::int64_t id) { return std::optional<std::string>(rows.at(id)); }));
}

TEST(KnownUrls, ManyAddressesStayFoundAsTheTableGrows) {
    KnownUrls known;
    std::vector<std::string> stored;
    for (int i = 0; i < 100000; ++i) stored.push_back("http://bench.test/news/" + std::to_string(i) + ".html");
    for (std::size_t i = 0; i < stored.size(); ++i) known.addStored(stored[i], static_cast<std::int64_t>(i + 1));
    known.addUnstored("http://bench.test/refused.html");
    auto read = [&](std::int64_t id) {
        return std::optional<std::string>(stored.at(static_cast<std::size_t>(id - 1)));
    };
    EXPECT_EQ(known.size(), 100001u);
    for (std::size_t i = 0; i < stored.size(); i += 997) EXPECT_TRUE(known.contains(stored[i], read)) << i;
    for (int i = 100000; i < 100100; ++i)
        EXPECT_FALSE(known.contains("http://bench.test/news/" + std::to_string(i) + ".html", read)) << i;
    EXPECT_TRUE(known.contains("http://bench.test/refused.html", read));
    // 16 bytes a slot, at most three quarters full.
    EXPECT_LE(known.memoryBytes(), 262144u * 16u);
    known.clear();
    EXPECT_FALSE(known.contains(stored[0], read));
}
