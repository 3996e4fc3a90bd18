// A client's byte stream on the simulator's gateway port, cut into requests as the gateway frames
// them and ending where it would close the connection. Each request is carried out by the
// gateway's own boot session over a link that answers every frame sent with frames cut from
// further bytes of the input.
#include <deque>

#include "FuzzSupport.h"
#include "OrvCanSim/bus/BootLoaderCodes.h"
#include "OrvCanSim/bus/VirtualBus.h"
#include "OrvCanSim/gateway/GatewayMessage.h"
#include "OrvCanSim/gateway/GatewayRequest.h"

namespace {

using namespace orv::sim;

class FuzzLink : public orv::CanLink {
  public:
    explicit FuzzLink(orv::fuzz::FuzzInput& input) : input_(input) {}

    // Each 11 bytes of a piece are one frame: identifier (bit 15 marks an extended one), length
    // and data.
    bool Send(const orv::CanFrame&) override {
        const std::string piece = input_.Piece(33);
        for (size_t at = 0; at + 11 <= piece.size(); at += 11) {
            const std::vector<uint8_t> bytes(piece.begin() + at, piece.begin() + at + 11);
            const uint16_t id = U16At(bytes, 0);
            orv::CanFrame frame{.id = (id & 0x7FFFU) | ((id & 0x8000U) != 0 ? kExtendedFrame : 0U),
                                .length = static_cast<uint8_t>(bytes[2] % 9)};
            std::copy(bytes.begin() + 3, bytes.end(), frame.data);
            heard_.push_back(frame);
        }
        return (input_.Byte() & 1) != 0;
    }
    // Every deadline has passed under the fuzz clock: only frames already heard come back.
    ReceiveResult Receive(orv::CanFrame& frame, int) override {
        if (heard_.empty())
            return ReceiveResult::Timeout;
        frame = heard_.front();
        heard_.pop_front();
        return ReceiveResult::Frame;
    }
    void Close() override {}

  private:
    orv::fuzz::FuzzInput& input_;
    std::deque<orv::CanFrame> heard_;
};

// False where the gateway would close the connection instead of carrying a request out.
bool NextRequest(orv::fuzz::FuzzInput& input, std::vector<uint8_t>& request) {
    const std::string count = input.Bytes(4);
    request.assign(count.begin(), count.end());
    const uint32_t length = count.size() == 4 ? U32At(request, 0) : 0;
    if (!IsAcceptedRequestLength(length))
        return false;
    const std::string rest = input.Bytes(length - count.size());
    request.insert(request.end(), rest.begin(), rest.end());
    return request.size() == length && IsWellFormed(request, "fuzz");
}

}  // namespace

// The gateway writes the answer as it stands and logs its status word: the answer holds the
// short reply at least, says its own byte count and command, agrees with its data length, carries
// the node's 8 bytes or none, and its status is one the gateway gives.
void orv::fuzz::FuzzOne(FuzzInput& input) {
    FuzzLink link(input);
    BootSession session(link);
    std::vector<uint8_t> request;
    while (NextRequest(input, request)) {
        const uint32_t command = U32At(request, kCommandAt);
        const std::vector<uint8_t> answer = CarryOut(session, link, request);
        const size_t size = answer.size();
        const uint32_t status = U32At(answer, kStatusAt);
        Require(size >= kShortReplyBytes && size <= kLargestMessage && U32At(answer, 0) == size &&
                U32At(answer, kCommandAt) == command);
        Require(size == kShortReplyBytes ||
                (U32At(answer, kDataLengthAt) == size - kDataAt && (size == 16 || size == 24)));
        Require(status == kNotCarriedOut || status == CCB_STATUS_OK ||
                status == CCB_STATUS_NO_REPLY || status == CCB_STATUS_SAME_SUBBLOCK ||
                status == CCB_STATUS_NO_VARIANT);
        Require(command != sim::CCB_CMD_SEND_FRAME || status == CCB_STATUS_OK ||
                status == kNotCarriedOut);
    }
}
