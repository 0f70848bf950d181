// The test programs' main: GoogleTest's, except that a run in which
// nothing failed but a test skipped ends with kSkipStatus, which CTest
// counts as skipped (tarvo_test_dir sets SKIP_RETURN_CODE), after one line
// per skipped test saying why; scripts/test gathers those lines.
#include "tarvo_test.h"

#include <gtest/gtest.h>

namespace {

// The reason given to GTEST_SKIP, on one line.
std::string skip_reason(const testing::TestResult &r)
{
  for (int i = 0; i < r.total_part_count(); ++i) {
    const testing::TestPartResult &part = r.GetTestPartResult(i);
    if (!part.skipped()) continue;
    std::string why = part.message();
    for (char &c : why)
      if (c == '\n') c = ' ';
    return why.empty() ? "no reason given" : why;
  }
  return "no reason given";
}

int report_skips()
{
  int skipped = 0;
  const testing::UnitTest &unit = *testing::UnitTest::GetInstance();
  for (int s = 0; s < unit.total_test_suite_count(); ++s) {
    const testing::TestSuite &suite = *unit.GetTestSuite(s);
    for (int t = 0; t < suite.total_test_count(); ++t) {
      const testing::TestInfo &info = *suite.GetTestInfo(t);
      if (!info.should_run() || !info.result()->Skipped()) continue;
      std::printf("skipped: %s.%s: %s\n", suite.name(), info.name(), skip_reason(*info.result()).c_str());
      ++skipped;
    }
  }
  std::fflush(stdout);
  return skipped;
}

}  // namespace

int main(int argc, char **argv)
{
  testing::InitGoogleTest(&argc, argv);
  if (RUN_ALL_TESTS() != 0) return 1;
  return report_skips() ? tarvo_test::kSkipStatus : 0;
}
