#include "storage/rec_array.h"

#include <gtest/gtest.h>

#include <vector>

namespace atlor {
namespace {

TEST(RecArrayTest, GrowsByTheRuleOnSingleAdditions) {
  TRecArrayOf<int32_t> a;
  EXPECT_EQ(a.Capacity(), 0);
  EXPECT_EQ(a.Data(), nullptr);
  std::vector<int32_t> capacities{a.Capacity()};
  for (int32_t i = 0; i < 95; ++i) {
    a.Add(i);
    if (a.Capacity() != capacities.back()) capacities.push_back(a.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{0, 4, 8, 12, 28, 44, 60, 76, 95}));
  for (int32_t i = 0; i < 95; ++i) ASSERT_EQ(a[i], i);
}

TEST(RecArrayTest, InsertMakesRoomForExactlyTheBlock) {
  TRecArrayOf<int32_t> a;
  const int32_t head[] = {1, 2, 5};
  a.InsertRecs(0, head, 3);
  EXPECT_EQ(a.Capacity(), 3);
  const int32_t middle[] = {3, 4};
  a.InsertRecs(2, middle, 2);
  EXPECT_EQ(a.Capacity(), 5);
  a.InsertRecs(a.Count(), middle, 0);
  EXPECT_EQ((std::vector<int32_t>(a.begin(), a.end())), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  // Records of the array itself survive the reallocation.
  a.InsertRecs(0, &a[3], 2);
  EXPECT_EQ((std::vector<int32_t>(a.begin(), a.end())), (std::vector<int32_t>{4, 5, 1, 2, 3, 4, 5}));
  a.SetCapacity(a.Count());
  a.Add(a[0]);
  EXPECT_EQ(a[7], 4);
}

TEST(RecArrayTest, ErrorsCarryTheirTexts) {
  TRecArrayOf<int32_t> a;
  const int32_t one = 1;
  const auto message = [](auto&& f) {
    try {
      f();
    } catch (const ERecArray& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message([&] { a.InsertRecs(1, &one, 1); }),
            "Индекс массива выходит за пределы (TRecArray.InsertRecs)");
  EXPECT_EQ(message([&] { a.InsertRecs(-1, &one, 1); }),
            "Индекс массива выходит за пределы (TRecArray.InsertRecs)");
  a.Add(one);
  EXPECT_EQ(message([&] { a.GetPtr(1); }), "Индекс массива выходит за пределы (TRecArray.GetPtr)");
  EXPECT_EQ(message([&] { a.At(-1); }), "Индекс массива выходит за пределы (TRecArray.GetPtr)");
  EXPECT_EQ(a.At(0), 1);
  TRecArrayOf<double> d;
  EXPECT_EQ(message([&] { d.Assign(a); }), "Не совпадает размер элемента (TRecArray.Assign)");
}

TEST(RecArrayTest, CapacityAssignAndClear) {
  TRecArrayOf<int32_t> a;
  for (int32_t i = 0; i < 10; ++i) a.Add(i);
  a.SetCapacity(2);  // never below Count
  EXPECT_EQ(a.Capacity(), 10);
  a.SetCapacity(100);
  EXPECT_EQ(a.Capacity(), 100);
  EXPECT_EQ(a[9], 9);

  TRecArrayOf<int32_t> b;
  b.Add(42);
  b.Assign(a);
  EXPECT_EQ(b.Count(), 10);
  EXPECT_EQ(b.Capacity(), 10);
  EXPECT_EQ(b[9], 9);

  a.Clear();
  EXPECT_EQ(a.Count(), 0);
  EXPECT_EQ(a.Capacity(), 0);
  EXPECT_EQ(a.Data(), nullptr);
}

}  // namespace
}  // namespace atlor
