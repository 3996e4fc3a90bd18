#include "image/ProgramImage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "os/Console.h"
#include "os/FileSearch.h"
#include "text/HexDigit.h"

namespace orv {

namespace {

constexpr const char* kReadError = "Error reading hex file\n";
// Why a record fails, for the line on standard error.
constexpr const char* kCutShort = "the record is cut short";
constexpr const char* kBadChecksum = "the record fails its checksum";
constexpr const char* kNoEndRecord = "the file ends without an end-of-file record";

constexpr uint8_t kFillByte = 0xFF;
constexpr uint8_t kHtPage = 6;
constexpr uint32_t kPdoSkipAbove = 0x300000;
constexpr uint16_t kPucStartAddress = 0x2000;

enum class HexRecordType : uint8_t {
    Data = 0x00,
    ExtendedLinearAddress = 0x04,
};

// Only these sub-blocks of a PUC image are ever downloaded; the rest belongs to the boot code.
bool IsPucDownloadBlock(uint32_t index) {
    return (index >= 10 && index <= 29) || (index >= 36 && index <= 61);
}

template <size_t N>
void CopyText(char (&target)[N], const char* source, size_t count) {
    const size_t taken = count < N ? count : N - 1;
    std::memcpy(target, source, taken);
    target[taken] = '\0';
}

}  // namespace

CProgramImage::CProgramImage(uint8_t busId, uint8_t nodeId, const char* fileName, uint32_t mode,
                             uint32_t baseAddress)
    : mode(mode), baseAddress(baseAddress) {
    bootParams.busId = busId;
    bootParams.nodeId = nodeId;
    bootParams.page = mode == MODE_HT ? kHtPage : 0;
    if (baseAddress > 0xFFFFFF) {
        blockBase = baseAddress & 0xFFFFFF;
    }
    std::memset(data, kFillByte, sizeof data);
    std::memset(readBack, kFillByte, sizeof readBack);

    for (uint32_t i = 0; i < kSubblockCount; ++i) {
        SubblockDescriptor& descriptor = subblocks[i];
        const uint32_t blockAddress = blockBase + i * kSubblockSize;
        descriptor.length = kSubblockSize;
        descriptor.address = static_cast<uint16_t>(blockAddress);
        descriptor.page = static_cast<uint8_t>(blockAddress >> 16);
        if (mode == MODE_HT) {
            descriptor.page = kHtPage;
        } else if (mode == MODE_PUC) {
            descriptor.page = i < kSubblockCount / 2 ? 0 : kHtPage;
        }
    }

    const char* name = fileName != nullptr ? fileName : "";
    const size_t nameLength = std::strlen(name);
    CopyText(this->fileName, name, nameLength);
    // Too short to carry an extension: the dump files go beside it under its full name.
    CopyText(baseName, name, nameLength < 4 ? nameLength : nameLength - 4);

    loaded = Load() ? 1 : 0;
}

CProgramImage::~CProgramImage() {
    if (stream != nullptr) {
        std::fclose(stream);
    }
}

bool CProgramImage::Load() {
    FormatLocalDate(std::time(nullptr), loadDate);

    const std::optional<FoundFile> found = FindFile(fileName);
    if (!found) {
        ConsolePrintf("Error: Can not find HEX file\n");
        ConsoleErrorPrintf("HEX file %s: not found\n", fileName);
        loaded = 0;
        return false;
    }
    CopyText(foundFileName, found->name.c_str(), found->name.size());
    FormatLocalDate(found->lastWrite, fileDate);

    // A directory can be found but never opened as a file.
    stream = found->isDirectory ? nullptr : std::fopen(fileName, "r");
    if (stream == nullptr) {
        ConsolePrintf("Error: Can not open HEX file\n");
        ConsoleErrorPrintf("HEX file %s: %s\n", fileName,
                           found->isDirectory ? "is a directory" : std::strerror(errno));
        loaded = 0;
        return false;
    }

    extendedLinearAddress = 0;
    linesRead_ = 0;
    while (!std::feof(stream) && !std::ferror(stream)) {
        if (!ParseRecord()) {
            break;
        }
    }
    const bool readFailed = std::ferror(stream) != 0;
    std::fclose(stream);
    stream = nullptr;
    if (readFailed) {
        ConsolePrintf("Error: Error when reading HEX file\n");
        ConsoleErrorPrintf("HEX file %s: read error\n", fileName);
        loaded = 0;
        return false;
    }
    if (loaded) {
        DeriveDownloadValues();
    }
    return loaded != 0;
}

// The file is read as text: a CR LF pair arrives as one line-end character.
int CProgramImage::ReadChar() {
    const int character = std::fgetc(stream);
    if (character == '\r') {
        const int next = std::fgetc(stream);
        if (next == '\n') {
            return '\n';
        }
        if (next != EOF) {
            std::ungetc(next, stream);
        }
    }
    linesRead_ += character == '\n' ? 1 : 0;
    return character;
}

bool CProgramImage::AtEndOrError() const {
    return std::feof(stream) != 0 || std::ferror(stream) != 0;
}

bool CProgramImage::Fail(const char* message, const char* reason) {
    ConsolePrintf("%s", message);
    ConsoleErrorPrintf("HEX file %s, line %u: %s\n", fileName, recordLine_, reason);
    loaded = 0;
    return false;
}

bool CProgramImage::ReadHexByte(uint8_t& value) {
    const int high = HexDigitValue(ReadChar());
    const int low = HexDigitValue(ReadChar());
    if (high < 0 || low < 0 || AtEndOrError()) {
        return false;
    }
    value = static_cast<uint8_t>(high * 16 + low);
    return true;
}

bool CProgramImage::ReadHexWord(uint16_t& value) {
    uint8_t high = 0;
    uint8_t low = 0;
    const bool highRead = ReadHexByte(high);
    const bool lowRead = ReadHexByte(low);
    if (!highRead || !lowRead) {
        return false;
    }
    value = static_cast<uint16_t>(high * 256 + low);
    return true;
}

bool CProgramImage::ParseRecord() {
    recordLine_ = linesRead_ + 1;
    const int start = ReadChar();
    if (start != ':') {
        return Fail(kReadError, start == EOF ? kNoEndRecord : "a record must start with ':'");
    }
    uint8_t count = 0;
    uint16_t address = 0;
    uint8_t type = 0;
    ReadHexByte(count);
    ReadHexWord(address);
    ReadHexByte(type);
    if (AtEndOrError()) {
        return Fail(kReadError, kCutShort);
    }
    const auto recordType = static_cast<HexRecordType>(type);
    if (recordType == HexRecordType::Data) {
        return ParseDataRecord(count, address);
    }
    if (recordType == HexRecordType::ExtendedLinearAddress) {
        return ParseExtendedAddressRecord(count);
    }
    // End-of-file and every other record type end the load where they stand.
    loaded = 1;
    return false;
}

bool CProgramImage::ParseDataRecord(uint8_t count, uint16_t address) {
    uint32_t sum = count + (address >> 8) + (address & 0xFF);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t offset =
            static_cast<uint32_t>(extendedLinearAddress) * 65536 - baseAddress + address + i;
        uint8_t byte = 0;
        if (!ReadDataByte(offset, byte)) {
            return false;
        }
        sum += byte;
        if (AtEndOrError()) {
            return Fail(kReadError, kCutShort);
        }
    }
    uint8_t checksum = 0;
    ReadHexByte(checksum);
    if (AtEndOrError()) {
        return Fail(kReadError, kCutShort);
    }
    if (checksum != static_cast<uint8_t>(0u - sum)) {
        return Fail("Check summ error\n", kBadChecksum);
    }
    ReadChar();
    loaded = 1;
    return true;
}

bool CProgramImage::ReadDataByte(uint32_t offset, uint8_t& byte) {
    if (mode == MODE_HT_PDO && offset > kPdoSkipAbove) {
        // Below the base address of an HT board reached over PDO: checked, not kept.
        ReadHexByte(byte);
        return true;
    }
    if (offset >= kImageSize) {
        char message[80];
        std::snprintf(message, sizeof message,
                      "Error reading hex file - addres higher that 0x%X referenced\n", kImageSize);
        return Fail(message, "data beyond the 128 KiB image");
    }
    blockUsed[offset / kSubblockSize] = 1;
    ReadHexByte(byte);
    data[offset] = byte;
    return true;
}

bool CProgramImage::ParseExtendedAddressRecord(uint8_t count) {
    if (count != 2) {
        return Fail("Invalid extended linear address record\n",
                    "an extended linear address record carries 2 bytes");
    }
    ReadHexWord(extendedLinearAddress);
    uint8_t checksum = 0;
    ReadHexByte(checksum);
    ReadChar();
    // Count 2 and type 4 with the address field taken as 0000: -(2 + 4) = 0xFA.
    const uint32_t expected = 0xFAu - (extendedLinearAddress >> 8) - (extendedLinearAddress & 0xFF);
    if (checksum != static_cast<uint8_t>(expected)) {
        return Fail("Invalid extended linear address check sum\n", kBadChecksum);
    }
    loaded = 1;
    return true;
}

void CProgramImage::DeriveDownloadValues() {
    bootParams.length = 0;
    totalUsedBytes = 0;
    bool firstUsed = true;
    for (uint32_t i = 0; i < kSubblockCount; ++i) {
        if (mode == MODE_PUC && !IsPucDownloadBlock(i)) {
            blockUsed[i] = 0;
        }
        if (!blockUsed[i]) {
            continue;
        }
        if (firstUsed) {
            bootParams.startAddress = mode == MODE_PUC
                                          ? kPucStartAddress
                                          : static_cast<uint16_t>(i * kSubblockSize + blockBase);
            firstUsed = false;
        }
        AddToDownload(i);
    }
    bootParams.length = static_cast<uint16_t>(totalUsedBytes);
}

void CProgramImage::AddToDownload(uint32_t index) {
    const uint16_t checksum = BlockChecksum(index);
    subblocks[index].checksum = checksum;
    bootParams.checksum = static_cast<uint16_t>(bootParams.checksum + checksum);
    totalUsedBytes += kSubblockSize;
}

bool CProgramImage::IsBlockUsed(uint16_t index) const {
    return index < kSubblockCount && blockUsed[index] != 0;
}

void CProgramImage::SetNodeId(uint8_t nodeId) {
    bootParams.nodeId = nodeId;
}

bool CProgramImage::FillBlockGaps() {
    uint32_t lowest = kSubblockCount;
    uint32_t highest = 0;
    for (uint32_t i = 0; i < kSubblockCount; ++i) {
        if (blockUsed[i]) {
            lowest = lowest == kSubblockCount ? i : lowest;
            highest = i;
        }
    }
    if (lowest == kSubblockCount) {
        return true;
    }
    for (uint32_t i = lowest; i < highest; ++i) {
        if (!blockUsed[i]) {
            blockUsed[i] = 1;
            AddToDownload(i);
        }
    }
    bootParams.length = static_cast<uint16_t>(totalUsedBytes);
    return true;
}

uint16_t CProgramImage::BlockChecksum(uint32_t index) const {
    if (index >= kSubblockCount) {
        return 0;
    }
    uint32_t sum = 0;
    const uint8_t* block = data + index * kSubblockSize;
    for (uint32_t i = 0; i < kSubblockSize; ++i) {
        sum += block[i];
    }
    return static_cast<uint16_t>(sum);
}

bool CProgramImage::CompareBlock(int32_t offset) const {
    if (offset < 0 || static_cast<uint32_t>(offset) > kImageSize - kSubblockSize) {
        return false;
    }
    return std::memcmp(readBack + offset, data + offset, kSubblockSize) == 0;
}

void CProgramImage::WriteImageDump() const {
    WriteDump(".ori", data);
}

void CProgramImage::WriteReadBackDump() const {
    WriteDump(".res", readBack);
}

void CProgramImage::WriteDump(const char* extension, const uint8_t* bytes) const {
    const std::string dumpName = std::string(baseName) + extension;
    FILE* dump = std::fopen(dumpName.c_str(), "wb");
    if (dump == nullptr) {
        return;
    }
    std::fwrite(bytes, 1, kImageSize, dump);
    std::fclose(dump);
}

}  // namespace orv
