#include "os/LibraryLoader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

using Names = std::vector<std::string>;

TEST(LibraryLoader, TriesTheNamesBesideTheToolThenInItsPrivateFolderThenThroughTheLinker) {
    const struct {
        std::string windowsName;
        std::string directory;
        std::string privateFolder;
        Names expected;
    } cases[] = {
        {"nican.dll",
         "/opt/tool",
         "",
         {"/opt/tool/nican.dll", "/opt/tool/libnican.so", "nican.dll", "libnican.so"}},
        {"Vendor.Can.Dll",
         "/x",
         "",
         {"/x/Vendor.Can.Dll", "/x/libvendor.can.so", "Vendor.Can.Dll", "libvendor.can.so"}},
        {"nican.dll", "", "../lib/orvflashpuc", {"nican.dll", "libnican.so"}},
        {"CANAPI.DLL",
         "/usr/bin",
         "../lib/orvflashpuc",
         {"/usr/bin/CANAPI.DLL", "/usr/bin/libcanapi.so", "/usr/bin/../lib/orvflashpuc/CANAPI.DLL",
          "/usr/bin/../lib/orvflashpuc/libcanapi.so", "CANAPI.DLL", "libcanapi.so"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.windowsName + " in " + c.directory);
        EXPECT_EQ(LibraryCandidates(c.windowsName, c.directory, c.privateFolder), c.expected);
    }
}

TEST(LibraryLoader, LoadsTheFirstCandidateThatExistsAndFindsEntryPointsByName) {
    const std::string dir = ORV_CARDLIBS_DIR;
    EXPECT_EQ(LoadFirstOf({dir + "/missing.dll", "/nowhere/libmissing.so"}), nullptr);
    const auto library = LoadFirstOf({dir + "/nican.dll", dir + "/libnican.so"});
    ASSERT_NE(library, nullptr);
    EXPECT_NE(library->Find("ncConfig"), nullptr);
    EXPECT_NE(library->Find("ncCreateNotification"), nullptr);
    EXPECT_EQ(library->Find("ncNoSuchEntry"), nullptr);
    // The library's own helpers stay inside it.
    EXPECT_EQ(library->Find("_ZN3orv11OpenCanLinkERKNSt7__cxx1112basic_stringIcSt11char_"
                            "traitsIcESaIcEEERS6_"),
              nullptr);
}

}  // namespace
}  // namespace orv
