#include <gtest/gtest.h>
#include "document/shpType.h"

TEST(ShpType, ValuesMatchTheFileFormat) {
    EXPECT_EQ(aStart, 1);
    EXPECT_EQ(aStop, 10);
}
