// Workers judging files at once share one verdict cache: what they keep is found
// by the next scan, and what they find infected is never kept. Run under
// ThreadSanitizer with the other threaded tests.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cache/VerdictCache.h"
#include "scan/OrderedVerdicts.h"
#include "support/CacheTrust.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu {
namespace {

TEST(CachedVerdicts, WorkersShareTheCacheOfAScan) {
  test::TempTree tree;
  if (const std::string why = test::CacheDistrusts(tree.Path()); !why.empty()) GTEST_SKIP() << why;
  std::vector<std::string> files;
  for (std::uint32_t i = 0; i < 120; ++i) {
    const std::string name = "t/f" + std::to_string(i) + ".exe";
    files.push_back(tree.Write(name, i % 40 == 0 ? test::VariantFile(static_cast<int>(i / 40 + 1)) : test::MzFile(2048, i + 1)));
  }
  // A file changed in the clock tick it is judged in is not kept.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  auto cache = cache::VerdictCache::Open(tree.MakeDir("cache"));
  ASSERT_TRUE(cache) << cache.Reason();
  for (int scan = 0; scan < 2; ++scan) {
    ASSERT_TRUE((*cache)->BeginScan(cache::VerdictSettings{}));
    ScanContext context;
    context.cache = cache->get();
    int infected = 0;
    const OrderedVerdicts::Deliver count = [&](const FileVerdictResult& r) { infected += r.verdict.empty() ? 0 : 1; };
    OrderedVerdicts verdicts(4, context);
    for (const std::string& file : files) verdicts.Submit(file, count);
    verdicts.Finish(count);
    EXPECT_EQ(infected, 3) << "scan " << scan;
    EXPECT_EQ((*cache)->FromCache(), scan == 0 ? 0 : 117) << "scan " << scan;
  }
}

}  // namespace
}  // namespace korbu
