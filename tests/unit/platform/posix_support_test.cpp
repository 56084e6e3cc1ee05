#include "platform/posix/support.h"

#include <gtest/gtest.h>

namespace winqor::posix {
namespace {

// An extracted file's mode: the attributes' 0444 or 0666, the kept execute bits beside the
// read bits that survive the umask, and never a bit beyond 0777.
TEST(ExtractedFileMode, KeptExecuteBitsFollowTheUmaskAndTheReadBits) {
    struct Case {
        bool readOnly;
        uint32_t keptExecute;
        mode_t umask;
        mode_t wanted;
    };
    const Case cases[] = {
        {false, 0, 022, 0644},     {true, 0, 022, 0444},      {false, 0111, 022, 0755},
        {false, 0111, 077, 0700},  {false, 0100, 022, 0744},  {true, 0111, 022, 0555},
        {true, 0111, 0277, 0500},  {false, 0111, 0, 0777},    {false, 0111, 0004, 0772},
        {false, 0111, 0044, 0722}, {false, 0111, 0400, 0277}, {false, 04111, 0, 0777},
        {false, 07777, 022, 0755}, {false, 0010, 027, 0650},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << "readOnly " << c.readOnly << " kept 0"
                                        << c.keptExecute << " umask 0" << c.umask);
        EXPECT_EQ(ExtractedFileMode(c.readOnly, c.keptExecute, c.umask), c.wanted);
    }
}

}  // namespace
}  // namespace winqor::posix
