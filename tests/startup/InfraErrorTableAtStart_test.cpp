#include "ExpectedInfraErrors.h"
#include "startup/InfraErrorTable.h"

// Nothing in this program registers the table but the tool's own static initialiser.
TEST(InfraErrorTableAtStart, FactoryHoldsTheTableBeforeMain) {
    EXPECT_TRUE(orv::kInfraErrorTableRegisteredAtStart);
    orv::test::ExpectFactoryHoldsTheTable();
}
