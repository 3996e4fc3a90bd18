// Frames arriving on the Ethernet-to-CAN route while the adapter carries gateway requests out:
// the bus answers each frame the adapter sends with the next bytes of the input, handed to the
// adapter's byte-stream receive path in pieces of any size.
#include <memory>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::fuzz::InstallFuzzClock();
    orv::fuzz::FuzzInput input(data, size);
    auto ownedEngine = std::make_unique<orv::fuzz::FuzzEngine>(input);
    orv::fuzz::FuzzEngine& engine = *ownedEngine;
    CE2CCommAdapter adapter(std::move(ownedEngine));
    engine.adapter = &adapter;
    const auto request = std::make_unique<CCcbMessage>();
    const auto reply = std::make_unique<CCcbMessage>();
    uint8_t frame[8];
    while (!input.Empty()) {
        switch (input.Byte() % 4) {
            case 0: {
                const std::string bytes = input.Piece(48);
                adapter.OnReceiveBytes(reinterpret_cast<const uint8_t*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
                break;
            }
            case 1:
                adapter.WaitForFrame(frame, input.Byte(), 0);
                break;
            case 2:
                input.Request(*request);
                adapter.SendRaw(request.get(), static_cast<int>(request->length), reply.get(),
                                input.Byte(), 0);
                break;
            default:
                input.Request(*request);
                orv::fuzz::HoldReplyTimeoutAtZero(*request);
                adapter.Transact(request.get(), reply.get(), sizeof(CCcbMessage), 0);
                break;
        }
    }
    return 0;
}
