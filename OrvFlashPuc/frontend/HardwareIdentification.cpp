#include "frontend/HardwareIdentification.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "frontend/ExitCodes.h"
#include "os/Console.h"
#include "protocol/PucDownloadProtocol.h"
#include "text/AnsiText.h"
#include "text/HexDigit.h"

namespace orv {

namespace {

// The whole file up to its first NUL; nothing when it cannot be read.
std::optional<std::string> ReadTextFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return std::nullopt;
    std::string content;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        content.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return std::nullopt;
    content.resize(std::strlen(content.c_str()));
    return content;
}

// Reads an unsigned hexadecimal number the way a 32-bit strtoul with base 16 does: leading
// blanks, one sign and a "0x" are taken, reading stops at the first non-digit, no digits give
// 0, values beyond 32 bits saturate and a minus sign negates.
uint32_t ParseHexOffset(const std::string& text) {
    const char* p = text.c_str();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigitValue(p[2]) >= 0)
        p += 2;
    uint64_t value = 0;
    for (; HexDigitValue(*p) >= 0; ++p) {
        value = value * 16 + static_cast<uint64_t>(HexDigitValue(*p));
        if (value > 0xFFFFFFFFu)
            return 0xFFFFFFFFu;
    }
    const auto magnitude = static_cast<uint32_t>(value);
    return negative ? 0u - magnitude : magnitude;
}

// The identification text that the boot loader put into its 8 reply bytes.
std::optional<std::string> CopyHardwareName(const uint8_t* bytes) {
    if (bytes == nullptr)
        return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(bytes);
    return std::string(text, strnlen(text, 8));
}

bool Identify(RunSettings& settings, CCommAdapter& transport, bool forDownload,
              uint32_t& baseAddress) {
    const auto node = static_cast<uint8_t>(settings.nodeId);
    CPucDownloadProtocol protocol(&transport, nullptr, static_cast<uint32_t>(settings.nodeId),
                                  static_cast<uint32_t>(settings.mode));
    ConsolePrintf("Please wait... identifying hardware\n");
    ConsoleFlush();
    protocol.GoToBootModeQuiet(node);
    // The reply bytes are overwritten by the next request.
    const std::optional<std::string> hardwareName = CopyHardwareName(protocol.GetHardwareName());
    // A download needs the boot loader; otherwise the board goes back to work at once.
    if (!forDownload)
        protocol.GoToApplicationQuiet(node);
    if (!hardwareName) {
        if (forDownload)
            protocol.GoToApplicationQuiet(node);
        ConsolePrintf("BusId: %d NodeId: %d -> can't identify HW\n", settings.busId,
                      settings.nodeId);
        ConsoleFlush();
        return false;
    }
    ConsolePrintf("BusId: %d NodeId: %d HW: %s\n", settings.busId, settings.nodeId,
                  hardwareName->c_str());
    ConsoleFlush();
    baseAddress = 0;
    const std::wstring firmwareName =
        FindFirmwareFile(WidenAnsi(settings.hexFileName), WidenAnsi(*hardwareName), baseAddress);
    if (firmwareName.empty()) {
        if (forDownload)
            protocol.GoToApplicationQuiet(node);
        ConsolePrintf("Firmware: %s -> no file found\n", hardwareName->c_str());
        ConsoleFlush();
        return false;
    }
    SetFirmwarePath(settings, firmwareName);
    ConsolePrintf("Firmware: %s -> %s\n", hardwareName->c_str(), settings.hexFileName);
    ConsoleFlush();
    return true;
}

}  // namespace

std::wstring FindFirmwareFile(const std::wstring& listPath, const std::wstring& hardwareName,
                              uint32_t& baseAddress) {
    const std::optional<std::string> content = ReadTextFile(NarrowAnsi(listPath));
    if (!content)
        return {};
    const std::wstring text = WidenAnsi(*content);
    // The key need not start a line, and the columns after it may run over line ends.
    const std::wstring key = hardwareName + L'\t';
    const size_t keyAt = text.find(key);
    if (keyAt == std::wstring::npos)
        return {};
    const size_t nameStart = keyAt + key.size();
    const size_t tab = text.find(L'\t', nameStart + 1);
    if (tab == std::wstring::npos)
        return {};
    size_t lineEnd = text.find(L'\n', nameStart + 1);
    if (lineEnd == std::wstring::npos)
        lineEnd = text.size();
    const std::wstring offsetText = lineEnd > tab ? text.substr(tab + 1, lineEnd - tab - 1) : L"";
    baseAddress = ParseHexOffset(NarrowAnsi(offsetText));
    return text.substr(nameStart, tab - nameStart);
}

void SetFirmwarePath(RunSettings& settings, const std::wstring& firmwareName) {
    const std::wstring listPath = WidenAnsi(settings.hexFileName);
    const size_t separator = listPath.find_last_of(L"\\/");
    // A separator in first place leaves no directory: the name stands alone.
    const std::wstring directory = separator != std::wstring::npos && separator != 0
                                       ? listPath.substr(0, separator + 1)
                                       : std::wstring();
    const std::string path = NarrowAnsi(directory + firmwareName);
    std::memset(settings.hexFileName, 0, sizeof settings.hexFileName);
    std::memcpy(settings.hexFileName, path.data(),
                std::min(path.size(), sizeof settings.hexFileName - 1));
}

int RunIdentify(RunSettings& settings, CCommAdapter& transport) {
    uint32_t baseAddress = 0;
    if (!Identify(settings, transport, false, baseAddress))
        return kExitFailure;
    ConsolePrintf("Offset: 0x%X\n", baseAddress);
    ConsoleFlush();
    return kExitSuccess;
}

bool IdentifyForDownload(RunSettings& settings, CCommAdapter& transport, uint32_t& baseAddress) {
    return Identify(settings, transport, true, baseAddress);
}

}  // namespace orv
