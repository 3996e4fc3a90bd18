#include <gtest/gtest.h>

#include <string>

#include "platform/InfraExceptionFactory.h"
#include "platform/InfraExceptions.h"

// Each test uses keys of its own: the factory is one per process and never forgets.
namespace {

using Infra::ErrorStorage;
using Infra::ExceptionFactory;

// Distinct classes tell which thrower ran.
struct RaisedByFirst : Infra::ExceptionBase {
    using ExceptionBase::ExceptionBase;
};
struct RaisedBySecond : Infra::ExceptionBase {
    using ExceptionBase::ExceptionBase;
};
void ThrowFirst(const ErrorStorage& error) {
    throw RaisedByFirst(error);
}
void ThrowSecond(const ErrorStorage& error) {
    throw RaisedBySecond(error);
}
void ReturnWithoutThrowing(const ErrorStorage&) {}

Infra::GUID TestIid(std::uint32_t tag) {
    return {tag, 0xFACE, 0xFEED, {9, 9, 9, 9, 9, 9, 9, 9}};
}

std::vector<ExceptionFactory::Key> KeysWithIid(const Infra::GUID& iid) {
    std::vector<ExceptionFactory::Key> keys;
    for (const auto& entry : ExceptionFactory::Entries()) {
        if (!entry.key.isNamed && entry.key.iid == iid) {
            keys.push_back(entry.key);
        }
    }
    return keys;
}

// Returns which of the test classes the factory raised for the error.
std::string RaisedFor(const ErrorStorage& error) {
    try {
        ExceptionFactory::Throw(error);
    } catch (const RaisedByFirst&) {
        return "first";
    } catch (const RaisedBySecond&) {
        return "second";
    } catch (const Infra::ExceptionBase& raised) {
        EXPECT_EQ(std::wstring(raised.message), std::wstring(error.message));
        return "base";
    }
    return "nothing";
}

TEST(InfraExceptionFactory, KeepsFirstPlaceAndOneThrowerPerKey) {
    const Infra::GUID iid = TestIid(1);
    ExceptionFactory::Register(iid, 0x80000001, ThrowFirst);
    ExceptionFactory::Register(iid, 0x80000002, ThrowFirst);
    ExceptionFactory::Register(iid, 0x80000001, ThrowSecond);

    const auto keys = KeysWithIid(iid);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].code, 0x80000001u);
    EXPECT_EQ(keys[1].code, 0x80000002u);
    EXPECT_EQ(RaisedFor(ErrorStorage(iid, 0x80000001, L"")), "second");
    EXPECT_EQ(RaisedFor(ErrorStorage(iid, 0x80000002, L"")), "first");
}

TEST(InfraExceptionFactory, FindsTheThrowerByTheWholeIdentity) {
    const Infra::GUID iid = TestIid(2);
    const wchar_t registeredName[] = L"Queue.Stalled";
    ExceptionFactory::Register(iid, 0x80000005, ThrowFirst);
    ExceptionFactory::Register(registeredName, 5, ThrowFirst);
    ExceptionFactory::Register(static_cast<const wchar_t*>(nullptr), 6, ThrowSecond);

    // Another copy of the name: names match by text, not by address.
    const std::wstring sameName = registeredName;
    const struct {
        const char* label;
        ErrorStorage error;
        const char* raised;
    } cases[] = {
        {"registered hresult", ErrorStorage(iid, 0x80000005, L"a"), "first"},
        {"hresult as a negative long", ErrorStorage(iid, -2147483643L, L"b"), "first"},
        {"other interface", ErrorStorage(TestIid(3), 0x80000005, L"c"), "base"},
        {"other hresult", ErrorStorage(iid, 0x80000006, L"d"), "base"},
        {"name by text", ErrorStorage(sameName.c_str(), 5, L"e"), "first"},
        {"name with other code", ErrorStorage(registeredName, 6, L"f"), "base"},
        {"null name", ErrorStorage(nullptr, 6, L"g"), "second"},
        {"empty name is not null", ErrorStorage(L"", 6, L"h"), "base"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(RaisedFor(c.error), c.raised);
    }
}

TEST(InfraExceptionFactory, ThrowerThatReturnsStillEndsInAnException) {
    const Infra::GUID iid = TestIid(4);
    ExceptionFactory::Register(iid, 0x80000007, ReturnWithoutThrowing);
    EXPECT_EQ(RaisedFor(ErrorStorage(iid, 0x80000007, L"kept")), "base");
}

}  // namespace
