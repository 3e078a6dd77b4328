#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/documents/DocumentsFolder.h"

namespace {

class DocumentsFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("fm-docs-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
        fm::platform::setDocumentsFolder("");
    }
    std::filesystem::path root_;
};

TEST_F(DocumentsFolderTest, DefaultsToDocumentsFieldmeterUnderHome) {
    fm::platform::setDocumentsFolder("");
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (!home.empty()) {
        EXPECT_EQ(fm::platform::documentsFolder(), home + "/Documents/fieldmeter");
    }
}

TEST_F(DocumentsFolderTest, OverrideIsCreatedWithParentsAndLosesTrailingSlash) {
    const auto nested = root_ / "a" / "b";
    fm::platform::setDocumentsFolder(nested.string() + "//");
    EXPECT_EQ(fm::platform::documentsFolder(), nested.string());
    std::string error;
    ASSERT_TRUE(fm::platform::ensureDocumentsFolder(&error)) << error;
    EXPECT_TRUE(std::filesystem::is_directory(nested));
    // A second call on an existing folder succeeds too.
    EXPECT_TRUE(fm::platform::ensureDocumentsFolder(&error));
}

TEST_F(DocumentsFolderTest, FolderThatCannotBeCreatedNamesPathAndReason) {
    std::filesystem::create_directories(root_);
    const auto blocker = root_ / "file";
    {
        std::FILE* f = std::fopen(blocker.c_str(), "w");
        std::fclose(f);
    }
    fm::platform::setDocumentsFolder((blocker / "docs").string());
    std::string error;
    EXPECT_FALSE(fm::platform::ensureDocumentsFolder(&error));
    EXPECT_NE(error.find((blocker / "docs").string()), std::string::npos) << error;
    EXPECT_NE(error.find(": "), std::string::npos) << error;
}

}  // namespace
