#include "startup/InfraErrorTable.h"

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>

#include "standins/InfraExceptionFactory.h"
#include "standins/InfraExceptions.h"

namespace {

constexpr Infra::GUID kBinding{
    0x8EA19E03, 0x6B04, 0x475D, {0x8A, 0xB5, 0xFD, 0x78, 0xB3, 0xC1, 0xDF, 0x54}};
constexpr Infra::GUID kMoniker{0x0000000F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The table in order; no interface (nullptr): the name form with a null name.
const struct {
    const Infra::GUID* iid;
    std::uint32_t code;
    const std::type_info& raises;
} kExpected[] = {
    {&Infra::GUID_NULL, 0x80070005, typeid(Infra::AccessDenied)},
    {&kBinding, 0x80040200, typeid(Infra::BindingAlreadyRegistered)},
    {&kBinding, 0x80040201, typeid(Infra::BindingRegistrationRevoked)},
    {&Infra::GUID_NULL, 0x800702E4, typeid(Infra::ElevationRequired)},
    {nullptr, 1, typeid(Infra::InternalError)},
    {&Infra::GUID_NULL, 0x80070057, typeid(Infra::InvalidArg)},
    {&kMoniker, 0x800401E7, typeid(Infra::MonikerIntermediateUnsupported)},
    {&kMoniker, 0x800401E5, typeid(Infra::MonikerNoObject)},
    {&kMoniker, 0x800401E4, typeid(Infra::MonikerSyntax)},
    {&Infra::GUID_NULL, 0x80004002, typeid(Infra::NoInterface)},
    {&Infra::GUID_NULL, 0x80004001, typeid(Infra::NotImplemented)},
    {&Infra::GUID_NULL, 0x8007000E, typeid(Infra::OutOfMemory)},
    {&Infra::GUID_NULL, 0x80004003, typeid(Infra::Pointer)},
    {&Infra::GUID_NULL, 0x8000FFFF, typeid(Infra::Unexpected)},
};

void ExpectFactoryHoldsTheTable() {
    const auto entries = Infra::ExceptionFactory::Entries();
    ASSERT_EQ(entries.size(), std::size(kExpected));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Infra::ExceptionFactory::Key& key = entries[i].key;
        SCOPED_TRACE(i);
        EXPECT_TRUE(key.code == kExpected[i].code && key.isNamed == !kExpected[i].iid &&
                    !key.name.has_value());
        EXPECT_EQ(key.iid, kExpected[i].iid ? *kExpected[i].iid : Infra::GUID_NULL);
        try {
            entries[i].thrower(key.isNamed ? Infra::ErrorStorage(nullptr, key.code, L"raised")
                                           : Infra::ErrorStorage(key.iid, key.code, L"raised"));
            ADD_FAILURE() << "the thrower returned";
        } catch (const Infra::ExceptionBase& raised) {
            EXPECT_EQ(typeid(raised), kExpected[i].raises);
            EXPECT_EQ(std::wstring(raised.message), L"raised");
        }
    }
}

// Nothing in this program registers the table before the test but the tool's own static
// initialiser; registering again leaves one working entry per key.
TEST(InfraErrorTable, HeldBeforeMainAndOnceAfterRegisteringAgain) {
    EXPECT_TRUE(orv::kInfraErrorTableRegisteredAtStart);
    ExpectFactoryHoldsTheTable();
    orv::RegisterInfraErrorTable();
    orv::RegisterInfraErrorTable();
    ExpectFactoryHoldsTheTable();
}

}  // namespace
