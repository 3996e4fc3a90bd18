// The stand-ins: the CANopen engine (what it puts on the link, how its thread delivers frames,
// how it ends), and the infrastructure library's error record and exception factory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "standins/CanOpenEngine.h"
#include "standins/InfraErrorStorage.h"
#include "standins/InfraExceptionFactory.h"
#include "standins/InfraExceptions.h"
#include "support/MemoryCanLink.h"

namespace {

using Infra::ErrorStorage;
using orv::test::MakeFrame;

// Bounded wait for the engine's thread to catch up.
template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 500 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

// Delivers standard frames only, as records; a lost link ends the thread and says so with the
// node it was talking to.
TEST(CanOpenEngine, DeliversStandardFramesAndReportsALostLink) {
    auto wire = std::make_shared<orv::test::MemoryCanLink::Wire>();
    auto engine = CanOpenLibrary::CreateCanOpenEngine();
    EXPECT_NE(engine->Start(), 0) << "nothing to receive from";
    ASSERT_EQ(engine->Attach(std::make_unique<orv::test::MemoryCanLink>(wire)), 0);
    std::mutex mutex;
    std::vector<std::string> delivered;  // "id:length:third byte"
    engine->frameCallback = [&](const unsigned char* bytes) {
        CanOpenLibrary::FrameRecord r;
        std::memcpy(&r, bytes, sizeof r);
        std::lock_guard<std::mutex> lock(mutex);
        delivered.push_back(std::to_string(r.id) + ":" + std::to_string(r.length) + ":" +
                            std::to_string(r.data[2]));
    };
    const uint8_t node = 0x12;
    const uint32_t on = 1;
    engine->SetNodeState(&node, &on);
    testing::internal::CaptureStderr();
    ASSERT_EQ(engine->Start(), 0);
    EXPECT_NE(engine->Start(), 0);
    for (const orv::CanFrame& frame :
         {MakeFrame(0x192, {1, 2, 3}), MakeFrame(0x1ABCDEF, {9}), MakeFrame(0x7FF, {})})
        wire->Inject(frame);
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return delivered.size() == 2;
    }));
    EXPECT_EQ(delivered, (std::vector<std::string>{"402:3:3", "2047:0:0"}));
    EXPECT_EQ(engine->LastError(), "");
    wire->HangUp();
    ASSERT_TRUE(Eventually([&] { return !engine->IsRunning(); }));
    engine->Join();
    const std::string why = "CAN link lost while talking to node 18 (0 frames sent, 2 received)";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), why + "\n");
    EXPECT_EQ(engine->LastError(), why);
}

TEST(CanOpenEngine, StopsOnRequestWithoutComplaint) {
    auto wire = std::make_shared<orv::test::MemoryCanLink::Wire>();
    auto engine = CanOpenLibrary::CreateCanOpenEngine();
    ASSERT_EQ(engine->Attach(std::make_unique<orv::test::MemoryCanLink>(wire)), 0);
    ASSERT_EQ(engine->Start(), 0);
    EXPECT_TRUE(engine->IsRunning());
    engine->Stop();
    engine->Join();
    EXPECT_FALSE(engine->IsRunning());
    EXPECT_EQ(engine->LastError(), "");
}

Infra::GUID TestIid(std::uint32_t tag) {
    return {tag, 0xFACE, 0xFEED, {9, 9, 9, 9, 9, 9, 9, 9}};
}

// A copy keeps the message, at most 1023 characters and a terminator, and the identity fields
// that isNamed selects, never stale ones.
TEST(InfraErrorStorage, CopyKeepsTheMessageAndTheIdentityThatIsNamedSelects) {
    const std::wstring text = L"bbb" + std::wstring(2000, L'a');
    for (const ErrorStorage& source :
         {ErrorStorage(TestIid(0), 0x80070005, text.substr(0, 1023)),
          ErrorStorage(L"Storage.Full", 42, text), ErrorStorage(nullptr, 1, L"")}) {
        ErrorStorage assigned = source.isNamed ? ErrorStorage(TestIid(1), 7, L"old message text")
                                               : ErrorStorage(L"Other", 7, L"old message text");
        assigned = source;
        const ErrorStorage constructed(source);
        for (const ErrorStorage* copy : {&std::as_const(assigned), &constructed}) {
            EXPECT_STREQ(copy->what(), "Message not specified");
            EXPECT_EQ(std::wstring(copy->message), text.substr(0, source.message[0] ? 1023 : 0));
            EXPECT_EQ(copy->message[ErrorStorage::kMessageCapacity - 1], L'\0');
            ASSERT_EQ(copy->isNamed, source.isNamed);
            if (source.isNamed)
                EXPECT_EQ(std::make_pair(copy->named.name, copy->named.code),
                          std::make_pair(source.named.name, source.named.code));
            else
                EXPECT_EQ(std::make_pair(copy->com.hr, copy->com.iid),
                          std::make_pair(source.com.hr, source.com.iid));
        }
    }
    ErrorStorage unterminated;
    std::fill(std::begin(unterminated.message), std::end(unterminated.message), L'x');
    EXPECT_EQ(std::wstring(ErrorStorage(unterminated).message), std::wstring(1023, L'x'));
}

// Distinct classes tell which thrower ran.
template <int N>
struct Raised : Infra::ExceptionBase {
    using ExceptionBase::ExceptionBase;
};
template <int N>
void Throw(const ErrorStorage& error) {
    throw Raised<N>(error);
}

std::string RaisedFor(const ErrorStorage& error) {
    try {
        Infra::ExceptionFactory::Throw(error);
    } catch (const Raised<1>&) {
        return "first";
    } catch (const Raised<2>&) {
        return "second";
    } catch (const Infra::ExceptionBase& raised) {
        EXPECT_EQ(std::wstring(raised.message), std::wstring(error.message));
        return "base";
    }
}

// A thrower that returns still ends in an exception. The factory is one per process and never
// forgets: these keys are this test's own.
TEST(InfraExceptionFactory, FindsTheThrowerByTheWholeIdentity) {
    using Infra::ExceptionFactory;
    const Infra::GUID iid = TestIid(2);
    const wchar_t registeredName[] = L"Queue.Stalled";
    ExceptionFactory::Register(iid, 0x80000005, Throw<1>);
    ExceptionFactory::Register(registeredName, 5, Throw<1>);
    ExceptionFactory::Register(static_cast<const wchar_t*>(nullptr), 6, Throw<2>);
    ExceptionFactory::Register(iid, 0x80000007, [](const ErrorStorage&) {});
    const std::wstring sameName = registeredName;  // names match by text, not by address
    const std::pair<ErrorStorage, const char*> cases[] = {
        {ErrorStorage(iid, 0x80000005, L"a"), "first"},
        {ErrorStorage(iid, -2147483643L, L"b"), "first"},  // as a negative long
        {ErrorStorage(TestIid(3), 0x80000005, L"c"), "base"},
        {ErrorStorage(sameName.c_str(), 5, L"e"), "first"},
        {ErrorStorage(registeredName, 6, L"f"), "base"},
        {ErrorStorage(nullptr, 6, L"g"), "second"},
        {ErrorStorage(L"", 6, L"h"), "base"},  // empty is not null
        {ErrorStorage(iid, 0x80000007, L"i"), "base"},
    };
    for (const auto& [error, raised] : cases)
        EXPECT_EQ(RaisedFor(error), raised) << static_cast<char>(error.message[0]);
}

}  // namespace
