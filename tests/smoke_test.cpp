#include <gtest/gtest.h>

#include "plix/plix.h"

TEST(Smoke, ConstructAndDestroy) {
    PlixCodec *c = PLIX_Constructor();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->ops->GetVersion(c), 8);
    PLIX_Destructor(c);
}
