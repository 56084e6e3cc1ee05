#include "engine/extraction_report.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace winqor {
namespace {

// Every failure has words of its own: the parent refuses a child's outcome whose failure has no
// description ("unknown failure"), so a failure added without one would turn each run that
// meets it into a sandbox failure; two failures with one description could not be told apart.
TEST(ExtractionReportTest, EveryFailureHasItsOwnDescription) {
    const std::string unknown = DescribeFailure(static_cast<Failure>(-1));
    EXPECT_EQ(unknown, "unknown failure");
    EXPECT_EQ(DescribeFailure(static_cast<Failure>(static_cast<int>(Failure::kNoRoom) + 1)),
              unknown);
    std::set<std::string> seen;
    for (int value = static_cast<int>(Failure::kNone); value <= static_cast<int>(Failure::kNoRoom);
         ++value) {
        const std::string text = DescribeFailure(static_cast<Failure>(value));
        EXPECT_NE(text, unknown) << "failure " << value;
        EXPECT_TRUE(seen.insert(text).second) << "failure " << value << " says what another does";
    }
}

// The first failure stops the extraction: a later one (the clean-up's, say) never hides it.
TEST(ExtractionReportTest, KeepsTheFirstFailureAndItsPlace) {
    ExtractionReport report;
    EXPECT_EQ(report.failure(), Failure::kNone);
    report.RecordFailure(Failure::kWriteFailed, u"a/b.txt");
    report.RecordFailure(Failure::kFolderFailed, u"a");
    EXPECT_EQ(report.failure(), Failure::kWriteFailed);
    EXPECT_EQ(report.failureWhere(), u"a/b.txt");
}

}  // namespace
}  // namespace winqor
