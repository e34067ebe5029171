#include "app/TextCodec.h"
#include <gtest/gtest.h>
TEST(TextCodec, Placeholder)
{
    EXPECT_EQ(velth::toDisplay("a").size(), 1);
}
