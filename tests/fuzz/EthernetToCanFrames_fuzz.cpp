// Frames arriving on the Ethernet-to-CAN route, in pieces of any size, while the adapter carries
// gateway requests out over a bus that answers each frame sent with more of the input.
#include "FuzzSupport.h"

void orv::fuzz::FuzzOne(FuzzInput& input) {
    const auto adapter = AdapterOnFuzzBus(input);
    const auto request = std::make_unique<CCcbMessage>(), reply = std::make_unique<CCcbMessage>();
    uint8_t frame[8];
    while (!input.Empty()) {
        const uint8_t choice = input.Byte() % 4;
        if (choice == 0) {
            const std::string bytes = input.Piece(48);
            adapter->OnReceiveBytes(reinterpret_cast<const uint8_t*>(bytes.data()),
                                    static_cast<int>(bytes.size()));
        } else if (choice == 1) {
            adapter->WaitForFrame(frame, input.Byte(), 0);
        } else {
            input.Request(*request);
            HoldReplyTimeoutAtZero(*request);
            if (choice == 2)
                adapter->SendRaw(request.get(), static_cast<int>(request->length), reply.get(),
                                 input.Byte(), 0);
            else
                adapter->Transact(request.get(), reply.get(), sizeof(CCcbMessage), 0);
        }
    }
}
