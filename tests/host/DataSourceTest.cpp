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

TEST(DataSource, SourceWithoutColumnsGivesHarmlessAnswers) {
  DRAV_DataSource source(nullptr);
  EXPECT_EQ(source.GetObsAreaSize(), 0);
  EXPECT_EQ(source.RowCount(), -1);
  EXPECT_EQ(source.GetNSplitVars(), 0u);
  EXPECT_FALSE(source.GetSplitqSeparate());
  EXPECT_FALSE(source.IsLoaded());
  EXPECT_EQ(source.NParents(), 0);
  EXPECT_EQ(source.GetVariable(0), nullptr);
  OBS obs(1);
  EXPECT_EQ(source.MakeIterator(&obs), nullptr) << "only a stream source reads cases";
  std::string spec = "inet:localhost:5000";
  source.SetFileSpec(spec.c_str());
  spec.assign("overwritten");
  EXPECT_STREQ(source.GetFileSpec(), "inet:localhost:5000") << "the source keeps its own copy";
  source.SetFileSpec(nullptr);
  EXPECT_STREQ(source.GetFileSpec(), "");
  EXPECT_NE(source.MakeVariable(0, nullptr), nullptr) << "the index is optional";
}

TEST(DataSource, ColumnsGetWholeSlotsAndTheIteratorAddressesEach) {
  // Numeric, A3, numeric, A8, A9, numeric, A20: A9 takes 2 slots, A20 3.
  const int widths[] = {0, 3, 0, 8, 9, 0, 20};
  const int firstSlots[] = {0, 1, 2, 3, 4, 6, 7};
  DRAV_DataSource source(nullptr);
  for (unsigned int i = 0; i < 7; ++i) {
    unsigned int index = 999;
    DRAV_Variable* variable = source.MakeVariable(widths[i], &index);
    EXPECT_EQ(index, i);
    EXPECT_EQ(source.GetVariable(static_cast<int>(i)), variable);
    EXPECT_EQ(variable->StringWidth(), widths[i]);
    EXPECT_EQ(variable->IsString(), widths[i] > 0);
  }
  EXPECT_EQ(source.ColumnCount(), 7);
  EXPECT_EQ(source.GetVariable(7), nullptr);
  EXPECT_EQ(source.GetVariable(-1), nullptr);
  ASSERT_EQ(source.GetObsAreaSize(), 10);

  OBS obs(source.GetObsAreaSize());
  ASSERT_EQ(obs.Bytes(), 80u);
  EXPECT_EQ(obs.SlotCount(), 10);
  EXPECT_EQ(source.Layout().RecordBytes(), obs.Bytes());
  for (std::size_t i = 0; i < obs.Bytes(); ++i) ASSERT_EQ(obs.Data()[i], 0) << "a new case buffer is zeroed";
  DRAV_InputCaseIterator iterator(source, &obs);
  for (unsigned int i = 0; i < 7; ++i) {
    EXPECT_EQ(source.Layout().FirstSlot(i), firstSlots[i]) << i;
    EXPECT_EQ(source.Layout().ByteOffset(i), 8u * firstSlots[i]) << i;
    EXPECT_EQ(source.Layout().IsString(i), widths[i] > 0) << i;
    EXPECT_EQ(iterator.GetObsPointer(i), obs.Data() + 8 * firstSlots[i]) << i;
  }
  EXPECT_EQ(iterator.GetObsPointer(7), nullptr);
  OBS empty(0);
  EXPECT_NE(empty.Data(), nullptr);
}

TEST(CaseLayout, StringWidthsRoundUpToWholeSlots) {
  const struct {
    int width, slots;
  } cases[] = {{0, 1}, {-3, 1}, {1, 1}, {7, 1}, {8, 1}, {9, 2}, {16, 2}, {17, 3}, {255, 32}, {32767, 4096}};
  for (const auto& c : cases) EXPECT_EQ(drav::wire::SlotsFor(c.width), c.slots) << c.width;
}

// ---- Registry -------------------------------------------------------------------

// Counts live instances so that ownership mistakes show as wrong counts
// (a leak also fails the sanitizer build).
class CountedSource : public DRAV_DataSource {
 public:
  explicit CountedSource(int tag) : DRAV_DataSource(nullptr), tag(tag) { ++live; }
  ~CountedSource() override { --live; }
  const int tag;
  static int live;
};
int CountedSource::live = 0;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { registry.ReleaseAll(); }
  void TearDown() override {
    registry.ReleaseAll();
    EXPECT_EQ(CountedSource::live, 0);
  }
  int TagAt(std::size_t index) { return static_cast<const CountedSource*>(registry.Get(index))->tag; }
  ServerDataManager& registry = ServerDataManager::GetInstance();
};

TEST_F(RegistryTest, KeepsOrderAndHandsOwnershipBack) {
  EXPECT_EQ(registry.TakeLast(), nullptr);
  EXPECT_EQ(registry.Add(*new CountedSource(1), "", false), 0);
  EXPECT_EQ(registry.Add(*new CountedSource(2), "b", false), 1);
  EXPECT_EQ(registry.Add(*new CountedSource(3), "", false), 2);
  EXPECT_EQ(registry.Add(*new CountedSource(4), "", false), 3);
  EXPECT_EQ(registry.NameOf(1), "b");
  EXPECT_EQ(registry.Get(4), nullptr);
  std::unique_ptr<DRAV_DataSource> middle = registry.Take(1);
  ASSERT_NE(middle, nullptr);
  EXPECT_EQ(static_cast<CountedSource&>(*middle).tag, 2);
  std::unique_ptr<DRAV_DataSource> last = registry.TakeLast();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(static_cast<CountedSource&>(*last).tag, 4);
  EXPECT_EQ(registry.Take(5), nullptr);
  middle.reset();
  EXPECT_EQ(CountedSource::live, 3);
  registry.Release(0);
  registry.Release(9);  // out of range: nothing happens
  ASSERT_EQ(registry.Count(), 1u);
  EXPECT_EQ(TagAt(0), 3);
  EXPECT_EQ(CountedSource::live, 2);
}

TEST_F(RegistryTest, ReplaceSwapsASourceOfTheSameNameOnly) {
  registry.Add(*new CountedSource(1), "data", false);
  registry.Add(*new CountedSource(2), "data", false);  // no replace: both kept
  EXPECT_EQ(registry.Add(*new CountedSource(3), "data", true), 0);
  EXPECT_EQ(registry.Count(), 2u);
  EXPECT_EQ(TagAt(0), 3);
  EXPECT_EQ(CountedSource::live, 2);
  // An empty name never replaces.
  registry.Add(*new CountedSource(4), "", true);
  registry.Add(*new CountedSource(5), "", true);
  EXPECT_EQ(registry.Count(), 4u);
  // The same source added again keeps one owner.
  EXPECT_EQ(registry.Add(*registry.Get(3), "", false), 3);
  EXPECT_EQ(registry.Count(), 4u);
}

}  // namespace
