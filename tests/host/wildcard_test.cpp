#include "framework/portable/wildcard.h"

#include <gtest/gtest.h>

#include "tests/support/wildcard_cases.h"

namespace qv {
namespace {

// The table is what Wine's search finds (platform_test checks it there).
TEST(Wildcard, FindsWhatTheSystemsSearchFinds) {
  for (const test::WildcardCase& c : test::kWildcardCases) {
    SCOPED_TRACE(c.pattern);
    std::vector<std::string> found;
    for (const std::string& name : test::kWildcardNames)
      if (MatchesWildcard(name, c.pattern)) found.push_back(name);
    EXPECT_EQ(found, c.found);
  }
}

}  // namespace
}  // namespace qv
