// The error kinds registered with the infrastructure library's factory, before main and again.
#include "startup/InfraErrorTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <typeinfo>

#include "standins/InfraExceptionFactory.h"
#include "standins/InfraExceptions.h"

namespace {

using Infra::ErrorStorage;
using Thrower = Infra::ExceptionFactory::Thrower;

// Raises through the thrower: exactly E arrives, with its message.
template <class E>
void ExpectRaises(Thrower thrower, const ErrorStorage& error) {
    try {
        thrower(error);
        ADD_FAILURE() << "the thrower returned";
    } catch (const E& raised) {
        EXPECT_EQ(typeid(raised), typeid(E));
        EXPECT_EQ(std::wstring(raised.message), std::wstring(error.message));
    } catch (...) {
        ADD_FAILURE() << "not raised as " << typeid(E).name();
    }
}

constexpr const char* kNull = "00000000-0000-0000-0000-000000000000";
constexpr const char* kBinding = "8EA19E03-6B04-475D-8AB5-FD78B3C1DF54";
constexpr const char* kMoniker = "0000000F-0000-0000-C000-000000000046";

// The registration table as the tool must hold it, in order; no interface: the name form with a
// null name.
const struct {
    const char* iid;
    std::uint32_t code;
    void (*expectRaises)(Thrower thrower, const ErrorStorage& error);
} kExpected[] = {
    {kNull, 0x80070005, ExpectRaises<Infra::AccessDenied>},
    {kBinding, 0x80040200, ExpectRaises<Infra::BindingAlreadyRegistered>},
    {kBinding, 0x80040201, ExpectRaises<Infra::BindingRegistrationRevoked>},
    {kNull, 0x800702E4, ExpectRaises<Infra::ElevationRequired>},
    {nullptr, 1, ExpectRaises<Infra::InternalError>},
    {kNull, 0x80070057, ExpectRaises<Infra::InvalidArg>},
    {kMoniker, 0x800401E7, ExpectRaises<Infra::MonikerIntermediateUnsupported>},
    {kMoniker, 0x800401E5, ExpectRaises<Infra::MonikerNoObject>},
    {kMoniker, 0x800401E4, ExpectRaises<Infra::MonikerSyntax>},
    {kNull, 0x80004002, ExpectRaises<Infra::NoInterface>},
    {kNull, 0x80004001, ExpectRaises<Infra::NotImplemented>},
    {kNull, 0x8007000E, ExpectRaises<Infra::OutOfMemory>},
    {kNull, 0x80004003, ExpectRaises<Infra::Pointer>},
    {kNull, 0x8000FFFF, ExpectRaises<Infra::Unexpected>},
};

std::string GuidText(const Infra::GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// The factory holds exactly the table's keys in its order, and each thrower raises its class.
void ExpectFactoryHoldsTheTable() {
    const auto entries = Infra::ExceptionFactory::Entries();
    ASSERT_EQ(entries.size(), std::size(kExpected));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Infra::ExceptionFactory::Key& key = entries[i].key;
        SCOPED_TRACE(i);
        EXPECT_EQ(key.code, kExpected[i].code);
        EXPECT_EQ(key.isNamed, kExpected[i].iid == nullptr);
        EXPECT_EQ(key.isNamed ? "" : GuidText(key.iid), kExpected[i].iid ? kExpected[i].iid : "");
        EXPECT_FALSE(key.name.has_value());
        kExpected[i].expectRaises(entries[i].thrower,
                                  key.isNamed ? ErrorStorage(nullptr, key.code, L"raised")
                                              : ErrorStorage(key.iid, key.code, L"raised"));
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
