#pragma once

#include <cstdint>
#include <cstdio>

#include "image/TargetMode.h"
#include "transport/GatewayRecords.h"

namespace orv {

// The 128 KiB flash image of one Intel HEX file, with the records the boot loader receives
// with it. The protocol reads and writes the public fields directly.
class CProgramImage {
  public:
    static constexpr uint32_t kImageSize = 0x20000;
    static constexpr uint32_t kSubblockSize = 2048;
    static constexpr uint32_t kSubblockCount = 64;

    CProgramImage(uint8_t busId, uint8_t nodeId, const char* fileName, uint32_t mode,
                  uint32_t baseAddress);
    ~CProgramImage();
    CProgramImage(const CProgramImage&) = delete;
    CProgramImage& operator=(const CProgramImage&) = delete;

    bool IsBlockUsed(uint16_t index) const;
    void SetNodeId(uint8_t nodeId);
    bool FillBlockGaps();
    uint16_t BlockChecksum(uint32_t index) const;
    bool CompareBlock(int32_t offset) const;
    void WriteImageDump() const;
    void WriteReadBackDump() const;

    BootInitParams bootParams;
    uint32_t totalUsedBytes = 0;
    SubblockDescriptor subblocks[kSubblockCount];
    uint8_t blockUsed[kSubblockCount] = {};
    uint8_t loaded = 0;
    char fileName[260] = {};
    char baseName[260] = {};
    FILE* stream = nullptr;
    uint8_t data[kImageSize];
    uint16_t extendedLinearAddress = 0;
    uint32_t mode = MODE_PUC;
    char fileDate[20] = {};
    char foundFileName[120] = {};
    char loadDate[20] = {};
    uint32_t fileVersion = 0;
    uint32_t baseAddress = 0;
    uint32_t blockBase = 0;
    uint8_t readBack[kImageSize];

  private:
    bool Load();
    bool ParseRecord();
    bool ParseDataRecord(uint8_t count, uint16_t address);
    // Reads the data byte for offset into the image; false, after the message, beyond it.
    bool ReadDataByte(uint32_t offset, uint8_t& byte);
    bool ParseExtendedAddressRecord(uint8_t count);
    int ReadChar();
    bool AtEndOrError() const;
    // Prints the message, tells on standard error where in the file and why, marks the image
    // unusable and returns false.
    bool Fail(const char* message, const char* reason);
    bool ReadHexByte(uint8_t& value);
    bool ReadHexWord(uint16_t& value);
    void DeriveDownloadValues();
    // Counts a used sub-block into the download: its checksum into its descriptor and the
    // header, its size into the total.
    void AddToDownload(uint32_t index);
    void WriteDump(const char* extension, const uint8_t* bytes) const;

    uint32_t linesRead_ = 0;
    uint32_t recordLine_ = 0;  // the line of the record being parsed, from 1
};

}  // namespace orv
