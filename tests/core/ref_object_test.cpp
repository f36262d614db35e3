#include "core/ref_object.h"

#include <gtest/gtest.h>

namespace atlor {
namespace {

class Probe : public TRefObject {
 public:
  explicit Probe(int* log) : log_(log) {}
  ~Probe() override { *log_ += 100; }
  void Disconnect() override { *log_ += 1; }

 private:
  int* log_;
};

TEST(RefObjectTest, AssignReleaseAndFree) {
  int log = 0;
  Probe* a = nullptr;
  Probe* p = new Probe(&log);
  EXPECT_EQ(p->RefCount(), 0);
  RefAssign(a, p);
  EXPECT_EQ(p->RefCount(), 1);
  RefAssign(a, p);  // same object: nothing happens
  EXPECT_EQ(p->RefCount(), 1);
  Probe* b = nullptr;
  RefAssign(b, a);
  RefRelease(b);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(log, 0);
  RefFree(a);  // disconnect, then the last release
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(log, 101);
}

TEST(RefObjectTest, ReleasingWhatIsNotHeldIsAnAssertion) {
  Probe* none = nullptr;
  try {
    RefRelease(none);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Text(), "Объект не инициализирован.");
  }
}

TEST(RefObjectTest, ListOwnershipDecidesFreeOrRelease) {
  int log = 0;
  Probe* held = nullptr;
  RefAssign(held, new Probe(&log));
  {
    TRefObjectList borrowed(false);
    borrowed.Add(held);
    EXPECT_EQ(held->RefCount(), 2);
  }
  EXPECT_EQ(log, 0);
  {
    TRefObjectList owner(true);
    owner.Add(held);
    owner.Delete(0);  // RefFree: disconnect hook runs, object survives through `held`
    EXPECT_EQ(log, 1);
  }
  RefRelease(held);
  EXPECT_EQ(log, 101);
}

TEST(RefObjectTest, PropertyEnumeratorForDiagnostics) {
  int log = 0;
  Probe* p = nullptr;
  RefAssign(p, new Probe(&log));
  std::vector<std::string> items;
  p->GetProperty(0, items);
  p->GetProperty(1, items);
  EXPECT_EQ(items, (std::vector<std::string>{"RefCount", "1"}));
  RefRelease(p);
}

}  // namespace
}  // namespace atlor
