#include "OrvCanSim/process/PcapTrace.h"

#include <chrono>
#include <stdexcept>

namespace orv::sim {
namespace {

constexpr uint16_t kLinkTypeSocketCan = 227;

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionApplication = 4;  // in the section header
constexpr uint16_t kOptionInterfaceName = 2;
constexpr uint32_t kSocketCanPacketSize = 16;

// Block bodies are little-endian; the reader learns that from the byte-order magic.
class BlockBuilder {
  public:
    void U8(uint8_t value) { bytes_.push_back(value); }
    void U16(uint16_t value) {
        U8(static_cast<uint8_t>(value));
        U8(static_cast<uint8_t>(value >> 8));
    }
    void U32(uint32_t value) {
        U16(static_cast<uint16_t>(value));
        U16(static_cast<uint16_t>(value >> 16));
    }
    void Pad() {
        while (bytes_.size() % 4 != 0) {
            U8(0);
        }
    }
    void TextOption(uint16_t code, const std::string& text) {
        U16(code);
        U16(static_cast<uint16_t>(text.size()));
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        Pad();
    }
    void EndOptions() {
        U16(kOptionEnd);
        U16(0);
    }
    // Wraps the body in the block's type and its total length, which pcapng gives at both ends.
    std::vector<uint8_t> Block(uint32_t type) const {
        BlockBuilder block;
        const uint32_t total = static_cast<uint32_t>(bytes_.size()) + 12;
        block.U32(type);
        block.U32(total);
        block.bytes_.insert(block.bytes_.end(), bytes_.begin(), bytes_.end());
        block.U32(total);
        return block.bytes_;
    }

  private:
    std::vector<uint8_t> bytes_;
};

// Section header and interface description: what a capture starts with.
std::vector<uint8_t> FileHeader(const std::string& iface) {
    BlockBuilder section;
    section.U32(kByteOrderMagic);
    section.U16(1);  // version 1.0
    section.U16(0);
    section.U32(0xFFFFFFFF);  // section length unknown: the file grows while it is written
    section.U32(0xFFFFFFFF);
    section.TextOption(kOptionApplication, "OrvCanSim");
    section.EndOptions();

    BlockBuilder interface;
    interface.U16(kLinkTypeSocketCan);
    interface.U16(0);
    interface.U32(kSocketCanPacketSize);  // snap length
    interface.TextOption(kOptionInterfaceName, iface);
    interface.EndOptions();

    std::vector<uint8_t> bytes = section.Block(kSectionHeader);
    const std::vector<uint8_t> interfaceBlock = interface.Block(kInterfaceDescription);
    bytes.insert(bytes.end(), interfaceBlock.begin(), interfaceBlock.end());
    return bytes;
}

// One enhanced packet block holding the frame as a 16-byte SocketCAN packet.
std::vector<uint8_t> FrameBlock(const CanFrame& frame, WallTime when) {
    const auto micros = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count());
    BlockBuilder packet;
    packet.U32(0);  // interface 0
    packet.U32(static_cast<uint32_t>(micros >> 32));
    packet.U32(static_cast<uint32_t>(micros));
    packet.U32(kSocketCanPacketSize);
    packet.U32(kSocketCanPacketSize);
    // The SocketCAN link type carries the identifier in network byte order, then the length,
    // three bytes of padding and eight data bytes.
    for (int shift = 24; shift >= 0; shift -= 8) {
        packet.U8(static_cast<uint8_t>(frame.id >> shift));
    }
    packet.U8(frame.length);
    packet.U8(0);
    packet.U8(0);
    packet.U8(0);
    for (size_t i = 0; i < sizeof frame.data; ++i) {
        packet.U8(i < frame.length ? frame.data[i] : 0);
    }
    return packet.Block(kEnhancedPacket);
}

}  // namespace

PcapTrace::PcapTrace(const std::string& path, const std::string& iface)
    : file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) {
        throw std::runtime_error("cannot create the capture file " + path);
    }
    Write(FileHeader(iface));
}

PcapTrace::~PcapTrace() {
    std::fclose(file_);
}

void PcapTrace::Record(const CanFrame& frame, WallTime when) {
    Write(FrameBlock(frame, when));
}

void PcapTrace::Write(const std::vector<uint8_t>& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    std::fflush(file_);
}

}  // namespace orv::sim
