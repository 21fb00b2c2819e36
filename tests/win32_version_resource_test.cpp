#include "platform/version_resource_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/executable_path.h"
#include "platform/utf8_path.h"
#include "quillon_version.h"
#include "tests/support/test_files.h"

using namespace quillon;

// The Win32 part of the about box's version lookup, on real program files: quillon-cli.exe
// with the program's resource, and a fixture program with a different one.

namespace {

namespace fs = std::filesystem;

std::string BuildFile(const std::string& relative) {
    return Utf8FromPath(PathFromUtf8(ExecutableDirectory()) / PathFromUtf8(relative));
}

std::string Query(const char* block, const char* key) {
    return std::string("\\StringFileInfo\\") + block + "\\" + key;
}

TEST(Win32VersionResource, QuillonCliCarriesTheValuesOfTheAboutBox) {
    Win32VersionResource resource;
    ASSERT_TRUE(resource.Read(BuildFile("../bin/quillon-cli.exe")));
    const std::optional<std::uint32_t> translation = resource.FirstTranslation();
    ASSERT_TRUE(translation.has_value());
    EXPECT_EQ(*translation, 0x040704B0u) << "German, code page 1200";
    EXPECT_EQ(resource.FindString(Query("040704b0", "ProductVersion")), QUILLON_PRODUCT_VERSION);
    EXPECT_EQ(resource.FindString(Query("040704b0", "ProductVersion")), "2.82.1");
    EXPECT_EQ(resource.FindString(Query("040704b0", "LegalCopyright")), QUILLON_LEGAL_COPYRIGHT);
    EXPECT_EQ(resource.FindString(Query("040704b0", "LegalTrademarks")), QUILLON_LEGAL_TRADEMARKS);
    EXPECT_EQ(resource.FindString(Query("040704b0", "OriginalFilename")), "quillon-cli.exe");
    EXPECT_EQ(resource.FindString(Query("040704b0", "NoSuchEntry")), "");
    EXPECT_EQ(resource.FindString(Query("040904e4", "ProductVersion")), "") << "no such block";
}

TEST(Win32VersionResource, OtherTranslationsMissingEntriesAndTextBeyondAscii) {
    Win32VersionResource resource;
    ASSERT_TRUE(resource.Read(BuildFile("win32_version_fixture.exe")));
    const std::optional<std::uint32_t> translation = resource.FirstTranslation();
    ASSERT_TRUE(translation.has_value());
    EXPECT_EQ(*translation, 0x040904E4u) << "the first of two translations";
    EXPECT_EQ(resource.FindString(Query("040904e4", "ProductVersion")), "9.8.7-fixture");
    EXPECT_EQ(resource.FindString(Query("040704b0", "ProductVersion")), "9.8.7-de");
    EXPECT_EQ(resource.FindString(Query("040904e4", "LegalCopyright")), "© Grüßé");
    EXPECT_EQ(resource.FindString(Query("040904e4", "LegalTrademarks")), "");
}

TEST(Win32VersionResource, FilesWithoutAResourceLoadNothing) {
    TempDir dir;
    Win32VersionResource resource;
    ASSERT_TRUE(resource.Read(BuildFile("win32_version_fixture.exe")));
    const std::string plain = dir.Write("plain.exe", "MZ but nothing else");
    for (const std::string& path : {plain, Utf8FromPath(dir.path() / "missing.exe")}) {
        EXPECT_FALSE(resource.Read(path)) << path;
        EXPECT_FALSE(resource.IsLoaded()) << "what was read before is gone";
        EXPECT_FALSE(resource.FirstTranslation().has_value());
        EXPECT_EQ(resource.FindString(Query("040704b0", "ProductVersion")), "");
    }
}

TEST(Win32VersionResource, ReadsFilesInFoldersOfAnyName) {
    TempDir dir;
    const fs::path folder = dir.path() / PathFromUtf8("Prüfstand 中文 Ω");
    fs::create_directories(folder);
    const fs::path copy = folder / PathFromUtf8("fixture ä.exe");
    fs::copy_file(PathFromUtf8(BuildFile("win32_version_fixture.exe")), copy);
    Win32VersionResource resource;
    ASSERT_TRUE(resource.Read(Utf8FromPath(copy)));
    EXPECT_EQ(resource.FindString(Query("040904e4", "ProductVersion")), "9.8.7-fixture");
}

}  // namespace
