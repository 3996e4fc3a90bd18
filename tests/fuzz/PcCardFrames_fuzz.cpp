// Card frames arriving while the PC card transport carries gateway requests out: the card answers
// each frame written to it with frames from the input, stored in a receive ring the way either
// driver stores them, and the transport reads them back through the card.
#include "FuzzSupport.h"
#include "pccard/PcCommAdapter.h"
#include "pccard/ReceiveRing.h"

using orv::CanCardFrame;
using orv::CCanCard;
using orv::CCcbMessage;
using orv::CPcCommAdapter;
using orv::ReceiveRing;

namespace {

class FuzzCard : public CCanCard {
  public:
    explicit FuzzCard(orv::fuzz::FuzzInput& input) : input_(input) {}

    int Open() override { return input_.Byte() & 1; }
    int Close() override { return 0; }
    int Reset() override { return 0; }
    int Write(uint16_t, const uint8_t*, int) override {
        const bool overwriting = (input_.Byte() & 1) != 0;
        for (uint8_t count = input_.Byte() % 4; count > 0; --count) {
            CanCardFrame frame{.id = input_.U16(), .length = input_.Byte()};
            const std::string bytes = input_.Bytes(sizeof frame.data);
            std::copy(bytes.begin(), bytes.end(), frame.data);
            if (overwriting)
                ring_.StoreOverwriting(frame);
            else
                ring_.StoreKeepingOldest(frame);
        }
        ring_.SignalStored();
        return input_.Byte() & 1;
    }
    int Read(CanCardFrame* frame, uint32_t timeoutMs) override {
        return ring_.Take(frame, timeoutMs, ReceiveRing::EventReset::BeforeUnlock);
    }

  private:
    orv::fuzz::FuzzInput& input_;
    ReceiveRing ring_;
};

}  // namespace

void orv::fuzz::FuzzOne(FuzzInput& input) {
    CPcCommAdapter adapter(new FuzzCard(input));
    const auto request = std::make_unique<CCcbMessage>(), reply = std::make_unique<CCcbMessage>();
    adapter.Open(0);
    while (!input.Empty()) {
        input.Request(*request);
        adapter.Transact(request.get(), reply.get(), sizeof(CCcbMessage), 0);
    }
    adapter.Reset();
}
