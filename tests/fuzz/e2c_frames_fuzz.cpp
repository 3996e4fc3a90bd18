// Frames arriving on the Ethernet-to-CAN route while the adapter carries gateway requests out:
// the bus answers each frame the adapter sends with the next bytes of the input, handed to the
// adapter's byte-stream receive path in pieces of any size.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::fuzz::InstallFuzzClock();
    orv::fuzz::FuzzInput input(data, size);
    const auto adapter = orv::fuzz::AdapterOnFuzzBus(input);
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
        } else if (choice == 2) {
            input.Request(*request);
            adapter->SendRaw(request.get(), static_cast<int>(request->length), reply.get(),
                             input.Byte(), 0);
        } else {
            input.Request(*request);
            orv::fuzz::HoldReplyTimeoutAtZero(*request);
            adapter->Transact(request.get(), reply.get(), sizeof(CCcbMessage), 0);
        }
    }
    return 0;
}
