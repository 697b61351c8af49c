// Engine strings: narrowing UTF-16 engine text to UTF-8, and copies and releases through the
// engine allocator.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "simhost/SimHost.h"
#include "tests/support/TestSupport.h"
#include "world/Engine.h"

namespace vesperline {
namespace {

EngineString View(std::vector<char16_t>& units, std::int32_t count) {
  return EngineString{units.data(), count, count};
}

std::string Narrow(std::vector<char16_t> units) {
  return NarrowText(View(units, static_cast<std::int32_t>(units.size())));
}

TEST(NarrowTextTest, EmptyWhenThereIsNoText) {
  std::vector<char16_t> units{u'a', u'b', 0};
  EXPECT_EQ(NarrowText(View(units, 0)), "") << "count 0 with a pointer";
  EXPECT_EQ(NarrowText(View(units, -3)), "") << "negative count";
  EXPECT_EQ(NarrowText(EngineString{nullptr, 3, 3}), "") << "no storage";
  EXPECT_EQ(Narrow({0, u'a', u'b', u'c', 0}), "") << "first unit zero";
}

TEST(NarrowTextTest, EndsAtTheFirstZeroUnitAndNeverPastTheCount) {
  EXPECT_EQ(Narrow({0x5A, 0x6F, 0xEB, 0}), "Zo\xC3\xAB");
  EXPECT_EQ(Narrow({0x61, 0x62, 0, 0x63, 0x64}), "ab");
  std::vector<char16_t> unterminated{u'a', u'b', u'c', u'd'};
  EXPECT_EQ(NarrowText(View(unterminated, 2)), "ab");
}

TEST(NarrowTextTest, ConvertsEveryScriptToUtf8) {
  EXPECT_EQ(Narrow({0xC9, u'l', 0xE9, u'o', 0xF1, u'o', 0}), "\xC3\x89l\xC3\xA9o\xC3\xB1o");
  EXPECT_EQ(Narrow({0x0416, 0x0435, 0x043D, 0x044F, 0}), "\xD0\x96\xD0\xB5\xD0\xBD\xD1\x8F");
  EXPECT_EQ(Narrow({0x4E2D, 0x6587, 0}), "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(Narrow({u'x', 0xD83D, 0xDE00, u'y', 0}), "x\xF0\x9F\x98\x80y");
}

TEST(NarrowTextTest, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(Narrow({0xD83D, u'A', 0}),
            "\xEF\xBF\xBD"
            "A")
      << "lone high";
  EXPECT_EQ(Narrow({u'A', 0xDE00, 0}), "A\xEF\xBF\xBD") << "lone low";
  EXPECT_EQ(Narrow({0xDE00, 0xD83D, 0}), "\xEF\xBF\xBD\xEF\xBF\xBD") << "pair in wrong order";
  std::vector<char16_t> cut{u'A', 0xD83D, 0xDE00};
  EXPECT_EQ(NarrowText(View(cut, 2)), "A\xEF\xBF\xBD") << "pair cut by the count";
}

TEST(NarrowTextTest, ReadsUnitsAtAnOddAddress) {
  // Engine memory promises nothing about alignment to the plugin; the read must not care.
  unsigned char bytes[9] = {};
  const char16_t units[4] = {u'O', 0x00E9, u'k', 0};
  std::memcpy(bytes + 1, units, sizeof(units));
  EXPECT_EQ(NarrowText(EngineString{reinterpret_cast<char16_t*>(bytes + 1), 4, 4}), "O\xC3\xA9k");
}

// Stands in for the engine's Malloc and Realloc and notes how they were called.
struct AllocatorCall {
  void* block;
  std::uint64_t size;
  std::uint32_t alignment;
};
std::vector<AllocatorCall> mallocCalls;
std::vector<AllocatorCall> reallocCalls;

void* RecordingMalloc(std::uint64_t size, std::uint32_t alignment) {
  mallocCalls.push_back({nullptr, size, alignment});
  return simhost::EngineMalloc(size, alignment);
}

void* RecordingRealloc(void* block, std::uint64_t size, std::uint32_t alignment) {
  reallocCalls.push_back({block, size, alignment});
  return simhost::EngineRealloc(block, size, alignment);
}

class EngineStringTest : public test::PluginTest {
 protected:
  void SetUp() override {
    test::PluginTest::SetUp();
    mallocCalls.clear();
    reallocCalls.clear();
    simhost::SetFunction("FMemory.Malloc(unsigned__int64,unsignedint)",
                         reinterpret_cast<void*>(&RecordingMalloc));
    simhost::SetFunction("FMemory.Realloc(void*,unsigned__int64,unsignedint)",
                         reinterpret_cast<void*>(&RecordingRealloc));
  }
  void TearDown() override {
    EXPECT_EQ(simhost::Allocator().live, 0u) << "every engine block is given back";
    EXPECT_TRUE(simhost::UnknownNames().empty());
    test::PluginTest::TearDown();
  }
};

TEST_F(EngineStringTest, CopyOfAnEmptyStringAllocatesNothing) {
  std::vector<char16_t> units{0, 0};
  // A negative count, or a count without storage, is a damaged string: nothing is there to copy.
  for (const EngineString& empty :
       {EngineString{units.data(), 0, 2}, EngineString{}, EngineString{nullptr, 4, 4},
        EngineString{units.data(), -2, 2}}) {
    const EngineString copy = CopyEngineString(empty);
    EXPECT_EQ(copy.Data, nullptr);
    EXPECT_EQ(copy.Count, 0);
    EXPECT_EQ(copy.Capacity, 0);
  }
  EXPECT_EQ(simhost::Allocator().mallocs, 0u);
  EXPECT_EQ(simhost::ResolutionCount("FMemory.Malloc(unsigned__int64,unsignedint)"), 0u);
}

TEST_F(EngineStringTest, CopyTakesEveryUnitOfTheCountThroughReallocOfNoBlock) {
  std::vector<char16_t> units{u'Z', 0x00EB, 0, u'x', u'y'};
  EngineString copy = CopyEngineString(EngineString{units.data(), 4, 5});
  ASSERT_NE(copy.Data, nullptr);
  EXPECT_NE(copy.Data, units.data());
  EXPECT_EQ(copy.Count, 4);
  EXPECT_EQ(copy.Capacity, 4);
  EXPECT_EQ(std::memcmp(copy.Data, units.data(), 8), 0);
  EXPECT_EQ(NarrowText(copy), "Z\xC3\xAB");

  // Realloc(null, 8, 2) is the engine's Malloc(8, 0); the engine's Realloc is never reached.
  ASSERT_EQ(mallocCalls.size(), 1u);
  EXPECT_EQ(mallocCalls[0].size, 8u);
  EXPECT_EQ(mallocCalls[0].alignment, 0u);
  EXPECT_TRUE(reallocCalls.empty());
  EXPECT_EQ(simhost::Allocator().sizes, std::vector<std::uint64_t>{8});

  ReleaseEngineString(copy);
  EXPECT_EQ(copy.Data, nullptr);
  EXPECT_EQ(simhost::Allocator().frees, 1u);
}

TEST_F(EngineStringTest, ReallocOfABlockGoesToTheEngine) {
  void* block = FMemory::Malloc(4, 8);
  block = FMemory::Realloc(block, 16, 8);
  ASSERT_EQ(reallocCalls.size(), 1u);
  EXPECT_EQ(reallocCalls[0].size, 16u);
  EXPECT_EQ(reallocCalls[0].alignment, 8u);
  FMemory::Free(block);
}

TEST_F(EngineStringTest, ReleasingAStringWithoutStorageCallsNothing) {
  EngineString empty;
  ReleaseEngineString(empty);
  FString engineEmpty("");
  ReleaseEngineString(engineEmpty);
  EXPECT_EQ(simhost::ResolutionCount("FMemory.Free(void*)"), 0u);
}

TEST_F(EngineStringTest, AFailedCopyPassesTheErrorOnAndHoldsNothing) {
  std::vector<char16_t> units{u'a', u'b', 0};
  simhost::SetAllocatorThrowsAt(1);
  EXPECT_THROW(CopyEngineString(View(units, 3)), std::bad_alloc);
  simhost::SetResolutionThrows("FMemory.Malloc(unsigned__int64,unsignedint)", true);
  EXPECT_THROW(CopyEngineString(View(units, 3)), std::runtime_error);
}

TEST_F(EngineStringTest, AnOwnedStringIsReleasedWhenItsScopeEndsByAnException) {
  std::vector<char16_t> units{u'a', u'b', 0};
  try {
    EngineString copy = CopyEngineString(View(units, 3));
    OwnedEngineString<EngineString> owned(copy);
    throw std::runtime_error("a later read failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(simhost::Allocator().frees, 1u);
}

}  // namespace
}  // namespace vesperline
