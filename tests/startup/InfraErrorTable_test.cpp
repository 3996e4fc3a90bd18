#include <gtest/gtest.h>

#include <string>

#include "ExpectedInfraErrors.h"
#include "platform/InfraExceptions.h"
#include "startup/InfraErrorTable.h"

namespace {

using Infra::ErrorStorage;
using Infra::ExceptionFactory;
using orv::test::kExpectedInfraErrors;

class InfraErrorTable : public ::testing::Test {
  protected:
    void SetUp() override { orv::RegisterInfraErrorTable(); }

    static void ExpectEveryThrowerRaisesItsClass() {
        const auto entries = ExceptionFactory::Entries();
        ASSERT_EQ(entries.size(), kExpectedInfraErrors.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const auto& expected = kExpectedInfraErrors[i];
            const auto& key = entries[i].key;
            SCOPED_TRACE(expected.className);
            const std::string className = expected.className;
            const std::wstring text = std::wstring(className.begin(), className.end()) + L" raised";
            const ErrorStorage error = key.isNamed ? ErrorStorage(nullptr, key.code, text)
                                                   : ErrorStorage(key.iid, key.code, text);
            expected.expectRaises(entries[i].thrower, error);
        }
    }
};

TEST_F(InfraErrorTable, EachThrowerRaisesItsOwnClassWithTheDescription) {
    ExpectEveryThrowerRaisesItsClass();
}

TEST_F(InfraErrorTable, RegisteringAgainLeavesOneWorkingEntryPerKey) {
    orv::RegisterInfraErrorTable();
    orv::RegisterInfraErrorTable();
    orv::test::ExpectFactoryHoldsTheTable();
    ExpectEveryThrowerRaisesItsClass();
}

TEST_F(InfraErrorTable, LongMessageArrivesTruncated) {
    const std::wstring text(2000, L'm');
    try {
        ExceptionFactory::Throw(ErrorStorage(Infra::GUID_NULL, 0x80070057, text));
    } catch (const Infra::InvalidArg& raised) {
        EXPECT_EQ(std::wstring(raised.message), text.substr(0, 1023));
        return;
    }
    ADD_FAILURE() << "not raised as InvalidArg";
}

TEST_F(InfraErrorTable, NullNameWithCodeOneIsAnInternalError) {
    try {
        ExceptionFactory::Throw(ErrorStorage(nullptr, 1, L"lost"));
    } catch (const Infra::InternalError& raised) {
        EXPECT_TRUE(raised.isNamed);
        EXPECT_EQ(raised.named.name, nullptr);
        EXPECT_EQ(raised.named.code, 1u);
        EXPECT_EQ(std::wstring(raised.message), L"lost");
        return;
    }
    ADD_FAILURE() << "not raised as InternalError";
}

}  // namespace
