// Data source columns, the case layout, case-buffer addressing and the
// registry's ownership.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/DravCaseIterator.h"
#include "host/DravDataSource.h"
#include "host/OBS.h"
#include "host/ServerDataManager.h"

namespace {

// Columns: numeric, A3, numeric, A8, A9, numeric, A20.
const int kWidths[] = {0, 3, 0, 8, 9, 0, 20};
// First slot of each column: A3 takes 1 slot, A8 1, A9 2, A20 3.
const int kFirstSlots[] = {0, 1, 2, 3, 4, 6, 7};
constexpr int kSlots = 10;

void MakeColumns(DRAV_DataSource& source) {
  for (int width : kWidths) source.MakeVariable(width, nullptr);
}

TEST(DataSource, NewSourceIsEmptyWithHarmlessAnswers) {
  DRAV_DataSource source(nullptr);
  EXPECT_EQ(source.ColumnCount(), 0);
  EXPECT_EQ(source.GetObsAreaSize(), 0);
  EXPECT_EQ(source.RowCount(), -1);
  EXPECT_EQ(source.GetNSplitVars(), 0u);
  EXPECT_FALSE(source.GetSplitqSeparate());
  EXPECT_FALSE(source.IsLoaded());
  EXPECT_EQ(source.NParents(), 0);
  EXPECT_STREQ(source.GetFileSpec(), "");
  EXPECT_EQ(source.GetVariable(0), nullptr);
  OBS obs(1);
  EXPECT_EQ(source.MakeIterator(&obs), nullptr);
}

TEST(DataSource, KeepsItsOwnCopyOfTheFileSpec) {
  DRAV_DataSource source(nullptr);
  std::string spec = "inet:localhost:5000";
  source.SetFileSpec(spec.c_str());
  spec.assign("overwritten");
  EXPECT_STREQ(source.GetFileSpec(), "inet:localhost:5000");
  source.SetFileSpec(nullptr);
  EXPECT_STREQ(source.GetFileSpec(), "");
}

TEST(DataSource, MakeVariableAppendsColumnsInOrder) {
  DRAV_DataSource source(nullptr);
  for (unsigned int i = 0; i < sizeof kWidths / sizeof kWidths[0]; ++i) {
    unsigned int index = 999;
    DRAV_Variable* variable = source.MakeVariable(kWidths[i], &index);
    ASSERT_NE(variable, nullptr);
    EXPECT_EQ(index, i);
    EXPECT_EQ(source.GetVariable(static_cast<int>(i)), variable);
    EXPECT_EQ(variable->StringWidth(), kWidths[i]);
    EXPECT_EQ(variable->IsString(), kWidths[i] > 0);
  }
  EXPECT_EQ(source.ColumnCount(), 7);
  EXPECT_EQ(source.GetVariable(7), nullptr);
  EXPECT_EQ(source.GetVariable(-1), nullptr);
}

TEST(DataSource, ObsAreaSizeIsTheLayoutSlotCount) {
  DRAV_DataSource source(nullptr);
  MakeColumns(source);
  EXPECT_EQ(source.GetObsAreaSize(), kSlots);
  EXPECT_EQ(source.Layout().SlotCount(), kSlots);
  for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(source.Layout().FirstSlot(i), kFirstSlots[i]);
}

TEST(CaseLayout, StringWidthsRoundUpToWholeSlots) {
  const struct {
    int width;
    int slots;
  } cases[] = {{0, 1}, {-3, 1}, {1, 1}, {7, 1}, {8, 1}, {9, 2}, {16, 2}, {17, 3}, {255, 32},
               {32767, 4096}};
  for (const auto& c : cases) EXPECT_EQ(drav::wire::SlotsFor(c.width), c.slots) << c.width;
}

TEST(CaseIterator, ObsPointerAddressesEachColumnsSlot) {
  DRAV_DataSource source(nullptr);
  MakeColumns(source);
  OBS obs(source.GetObsAreaSize());
  ASSERT_EQ(obs.Bytes(), 8u * kSlots);
  DRAV_InputCaseIterator iterator(source, &obs);
  for (unsigned int i = 0; i < 7; ++i) {
    EXPECT_EQ(iterator.GetObsPointer(i), obs.Data() + 8 * kFirstSlots[i]) << i;
  }
  EXPECT_EQ(iterator.GetObsPointer(7), nullptr);

  // A record read into column 0's address lands whole, and each numeric
  // column's value is read back at its own address.
  double* slots = reinterpret_cast<double*>(obs.Data());
  slots[0] = 1.5;
  slots[2] = -2.25;
  slots[6] = 1e10;
  EXPECT_EQ(*reinterpret_cast<double*>(iterator.GetObsPointer(0)), 1.5);
  EXPECT_EQ(*reinterpret_cast<double*>(iterator.GetObsPointer(2)), -2.25);
  EXPECT_EQ(*reinterpret_cast<double*>(iterator.GetObsPointer(5)), 1e10);
}

TEST(CaseBuffer, StartsZeroedAndAlwaysHasStorage) {
  OBS obs(3);
  EXPECT_EQ(obs.SlotCount(), 3);
  for (std::size_t i = 0; i < obs.Bytes(); ++i) EXPECT_EQ(obs.Data()[i], 0) << i;
  OBS empty(0);
  EXPECT_NE(empty.Data(), nullptr);
  EXPECT_EQ(empty.Bytes(), 0u);
}

// ---- Registry -------------------------------------------------------------------

// Counts live instances so that ownership mistakes show as wrong counts
// (a leak also fails the sanitizer build).
class CountedSource : public DRAV_DataSource {
 public:
  explicit CountedSource(int tag) : DRAV_DataSource(nullptr), tag_(tag) { ++live; }
  ~CountedSource() override { --live; }
  int Tag() const { return tag_; }
  static int live;

 private:
  int tag_;
};
int CountedSource::live = 0;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ServerDataManager::GetInstance().ReleaseAll(); }
  void TearDown() override {
    ServerDataManager::GetInstance().ReleaseAll();
    EXPECT_EQ(CountedSource::live, 0);
  }
  ServerDataManager& registry = ServerDataManager::GetInstance();
};

int TagOf(const DRAV_DataSource* source) {
  return static_cast<const CountedSource*>(source)->Tag();
}

TEST_F(RegistryTest, AddTakesOwnershipAndKeepsOrder) {
  EXPECT_EQ(registry.Add(*new CountedSource(1), "", false), 0);
  EXPECT_EQ(registry.Add(*new CountedSource(2), "b", false), 1);
  EXPECT_EQ(registry.Add(*new CountedSource(3), "", false), 2);
  ASSERT_EQ(registry.Count(), 3u);
  EXPECT_EQ(TagOf(registry.Get(0)), 1);
  EXPECT_EQ(TagOf(registry.Get(2)), 3);
  EXPECT_EQ(registry.NameOf(1), "b");
  EXPECT_EQ(registry.Get(3), nullptr);
  EXPECT_EQ(CountedSource::live, 3);
}

TEST_F(RegistryTest, TakeHandsOwnershipBack) {
  registry.Add(*new CountedSource(1), "", false);
  registry.Add(*new CountedSource(2), "", false);
  registry.Add(*new CountedSource(3), "", false);
  std::unique_ptr<DRAV_DataSource> middle = registry.Take(1);
  ASSERT_NE(middle, nullptr);
  EXPECT_EQ(TagOf(middle.get()), 2);
  std::unique_ptr<DRAV_DataSource> last = registry.TakeLast();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(TagOf(last.get()), 3);
  EXPECT_EQ(registry.Count(), 1u);
  EXPECT_EQ(registry.Take(5), nullptr);
  middle.reset();
  EXPECT_EQ(CountedSource::live, 2);
}

TEST_F(RegistryTest, TakeLastOfAnEmptyRegistryIsNull) { EXPECT_EQ(registry.TakeLast(), nullptr); }

TEST_F(RegistryTest, ReleaseDestroysOneSourceAndReleaseAllTheRest) {
  registry.Add(*new CountedSource(1), "", false);
  registry.Add(*new CountedSource(2), "", false);
  registry.Release(0);
  EXPECT_EQ(CountedSource::live, 1);
  ASSERT_EQ(registry.Count(), 1u);
  EXPECT_EQ(TagOf(registry.Get(0)), 2);
  registry.Release(9);  // out of range: nothing happens
  EXPECT_EQ(CountedSource::live, 1);
  registry.ReleaseAll();
  EXPECT_EQ(CountedSource::live, 0);
  EXPECT_EQ(registry.Count(), 0u);
}

TEST_F(RegistryTest, ReplaceSwapsASourceOfTheSameName) {
  registry.Add(*new CountedSource(1), "data", false);
  registry.Add(*new CountedSource(2), "data", false);  // no replace: both kept
  EXPECT_EQ(registry.Count(), 2u);
  EXPECT_EQ(registry.Add(*new CountedSource(3), "data", true), 0);
  EXPECT_EQ(registry.Count(), 2u);
  EXPECT_EQ(TagOf(registry.Get(0)), 3);
  EXPECT_EQ(CountedSource::live, 2);
  // An empty name never replaces.
  registry.Add(*new CountedSource(4), "", true);
  registry.Add(*new CountedSource(5), "", true);
  EXPECT_EQ(registry.Count(), 4u);
}

TEST_F(RegistryTest, AddingTheSameSourceTwiceKeepsOneOwner) {
  CountedSource* source = new CountedSource(1);
  EXPECT_EQ(registry.Add(*source, "", false), 0);
  EXPECT_EQ(registry.Add(*source, "", false), 0);
  EXPECT_EQ(registry.Count(), 1u);
}

}  // namespace
