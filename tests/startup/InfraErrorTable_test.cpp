#include "startup/InfraErrorTable.h"
#include "ExpectedInfraErrors.h"

namespace {

TEST(InfraErrorTable, RegisteringAgainLeavesOneWorkingEntryPerKey) {
    orv::RegisterInfraErrorTable();
    orv::RegisterInfraErrorTable();
    orv::test::ExpectFactoryHoldsTheTable();
}

}  // namespace
