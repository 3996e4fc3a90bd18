// Gateway replies to every boot-loader operation: a gateway that answers each request with the
// next bytes of the input, written into the reply as the TCP transport writes what it reads.
#include <cstring>
#include <iterator>
#include <optional>

#include "FuzzSupport.h"
#include "image/ProgramImage.h"
#include "protocol/PucDownloadProtocol.h"
#include "transport/CommAdapter.h"

using orv::CCcbMessage;
using orv::CCommAdapter;
using orv::CProgramImage;
using orv::CPucDownloadProtocol;
using orv::MODE_PUC;

namespace {

class FuzzGateway : public CCommAdapter {
  public:
    explicit FuzzGateway(orv::fuzz::FuzzInput& input) : input_(input) {}

    int Open(uint8_t) override { return input_.Byte(); }
    int Reset() override { return input_.Byte(); }
    int SendRaw(const void*, int, void* reply, int capacity, uint32_t) override {
        return Answer(reply, capacity);
    }
    int Transact(const CCcbMessage*, CCcbMessage* reply, int capacity, uint32_t) override {
        return Answer(reply, capacity);
    }

  private:
    // A result (0: the exchange went through) and a reply of any length, cut at the capacity.
    int Answer(void* reply, int capacity) {
        if (input_.Empty())
            return 1;
        const int result = input_.Byte();
        const std::string bytes = input_.Piece(255);
        std::memcpy(reply, bytes.data(), std::min<size_t>(bytes.size(), capacity));
        return result;
    }

    orv::fuzz::FuzzInput& input_;
};

// Sub-blocks 10 and 36 (PUC download blocks, one in each page) and the end record.
constexpr const char* kImageHex =
    ":10500000000102030405060708090A0B0C0D0E0F28\n:020000040001F9\n"
    ":10200000F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF58\n:00000001FF\n";

using Operation = void (*)(CPucDownloadProtocol&, uint8_t node);
constexpr Operation kOperations[] = {
    [](CPucDownloadProtocol& p, uint8_t node) { p.GetPucInfo(node); },
    [](CPucDownloadProtocol& p, uint8_t) { p.ScanBootNodes(); },
    [](CPucDownloadProtocol& p, uint8_t node) { p.FindBootNodeId(node); },
    [](CPucDownloadProtocol& p, uint8_t node) { p.GoToBootMode(node); },
    [](CPucDownloadProtocol& p, uint8_t node) { p.GoToApplication(node); },
    [](CPucDownloadProtocol& p, uint8_t node) { p.SetBootNodeId(node); },
    [](CPucDownloadProtocol& p, uint8_t node) { p.DownloadPuc(static_cast<int8_t>(node)); },
    [](CPucDownloadProtocol& p, uint8_t) { p.mode == MODE_PUC ? p.VerifyPuc() : p.DownloadHt(); },
    [](CPucDownloadProtocol& p, uint8_t) { p.DownloadHtPdo(); }};

}  // namespace

void orv::fuzz::FuzzOne(FuzzInput& input) {
    const uint8_t operation = input.Byte();
    const uint8_t node = input.Byte();
    const uint32_t mode = input.Byte() % 3;
    // Built in the same storage for every input, as in the loader's target.
    static const std::string path = ScratchFile("protocol.hex", kImageHex);
    static std::optional<CProgramImage> image;
    FuzzGateway gateway(input);
    CPucDownloadProtocol protocol(&gateway, &image.emplace(0, 5, path.c_str(), mode, 0), node,
                                  mode);
    kOperations[operation % std::size(kOperations)](protocol, node);
}
