#include "natives/TrayIconTable.h"

#include <gtest/gtest.h>

using kvx::TrayIconEntry;
using kvx::TrayIconTable;

namespace {
TrayIconEntry entry(int32_t id) {
    TrayIconEntry e;
    e.id = id;
    e.record = reinterpret_cast<kvx::TrayIconRecord*>(static_cast<intptr_t>(id * 16));
    return e;
}
}  // namespace

TEST(TrayIconTableTest, GrowsByTheLauncherRule) {
    TrayIconTable table;
    EXPECT_EQ(table.capacity(), 0);
    ASSERT_TRUE(table.append(entry(1)));
    EXPECT_EQ(table.capacity(), 8);
    for (int32_t id = 2; id <= 9; ++id) ASSERT_TRUE(table.append(entry(id)));
    EXPECT_EQ(table.capacity(), 16);
    for (int32_t id = 10; id <= 17; ++id) ASSERT_TRUE(table.append(entry(id)));
    EXPECT_EQ(table.capacity(), 32);
    EXPECT_EQ(table.size(), 17);
    for (int32_t id = 1; id <= 17; ++id) EXPECT_EQ(table.at(id - 1).id, id);  // nothing lost on moves

    TrayIconTable big;
    ASSERT_TRUE(big.reserve(40));  // 8, doubled to 16, still short: 40 + 11 down to 48
    EXPECT_EQ(big.capacity(), 48);
    EXPECT_EQ(big.size(), 0);
}

TEST(TrayIconTableTest, RemovalKeepsOrderAndTakeAllEmpties) {
    TrayIconTable table;
    for (int32_t id = 1; id <= 5; ++id) ASSERT_TRUE(table.append(entry(id)));
    ASSERT_TRUE(table.append(entry(3)));  // a duplicate id: lookups find the first
    EXPECT_EQ(table.indexOf(3), 2);
    EXPECT_EQ(table.indexOf(42), -1);
    table.removeAt(2);
    ASSERT_EQ(table.size(), 5);
    const int32_t expected[] = {1, 2, 4, 5, 3};
    for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(table.at(i).id, expected[i]);
    EXPECT_EQ(table.indexOf(3), 4);
    table.removeAt(7);   // out of range: nothing
    table.removeAt(-1);
    EXPECT_EQ(table.size(), 5);

    int32_t count = 0;
    TrayIconEntry* all = table.takeAll(count);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(all[4].id, 3);
    EXPECT_EQ(table.size(), 0);
    EXPECT_EQ(table.capacity(), 0);
    EXPECT_EQ(table.indexOf(1), -1);
    TrayIconTable::freeEntries(all);
    ASSERT_TRUE(table.append(entry(9)));  // usable again after being emptied
    EXPECT_EQ(table.capacity(), 8);
}
