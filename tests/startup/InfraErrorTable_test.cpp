#include "startup/InfraErrorTable.h"
#include "ExpectedInfraErrors.h"

namespace {

using Infra::ErrorStorage;

TEST(InfraErrorTable, RegisteringAgainLeavesOneWorkingEntryPerKey) {
    orv::RegisterInfraErrorTable();
    orv::RegisterInfraErrorTable();
    orv::test::ExpectFactoryHoldsTheTable();
}

TEST(InfraErrorTable, LongMessageArrivesTruncated) {
    orv::RegisterInfraErrorTable();
    const std::wstring text(2000, L'm');
    try {
        Infra::ExceptionFactory::Throw(ErrorStorage(Infra::GUID_NULL, 0x80070057, text));
    } catch (const Infra::InvalidArg& raised) {
        EXPECT_EQ(std::wstring(raised.message), text.substr(0, 1023));
        return;
    }
    ADD_FAILURE() << "not raised as InvalidArg";
}

}  // namespace
