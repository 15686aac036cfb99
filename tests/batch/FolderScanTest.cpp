#include "batch/FolderScan.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pictavo {
namespace {

void Touch(const test::ScratchDir& dir, const std::string& name) { test::WriteBytes(dir.file(name), {1}); }

TEST(FolderScan, ListsMatchingRegularFilesInCaseBlindOrder)
{
    test::ScratchDir dir;
    for (const char* name : {"b.jpg", "A.JPG", "c.jpeg", ".hidden.jpg", "d.png", "e.bmp", "jpg", "a.jpg"}) Touch(dir, name);
    std::filesystem::create_directory(dir.path() / "old.jpg");

    BatchModel model;
    ScanFolder(model, dir.file("b.jpg"));
    EXPECT_EQ(model.imageFolder, dir.path().string() + "/");
    EXPECT_EQ(model.names, (std::vector<std::string>{".hidden.jpg", "A.JPG", "a.jpg", "b.jpg", "c.jpeg"}));

    model.format = InputFormat::Bitmap;
    ScanFolder(model, dir.file("whatever.bmp"));
    EXPECT_EQ(model.names, (std::vector<std::string>{"e.bmp"}));
}

TEST(FolderScan, AFolderWithoutMatchesOrUnreadableEmptiesTheList)
{
    test::ScratchDir full, empty;
    Touch(full, "x.jpg");
    BatchModel model;
    ScanFolder(model, full.file("x.jpg"));
    ScanFolder(model, empty.file("typed-name.jpg"));
    EXPECT_TRUE(model.names.empty());

    BatchModel fresh;
    ScanFolder(fresh, "/nonexistent/folder/x.jpg");
    EXPECT_TRUE(fresh.names.empty());
}

TEST(FolderScan, ListOrderIgnoresAsciiCaseAndBreaksTiesByBytes)
{
    std::vector<std::string> names = {"b", "B", "a_", "A", "a", "Z1", "z0", "_x"};
    std::sort(names.begin(), names.end(), ListOrder);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "a", "a_", "B", "b", "z0", "Z1", "_x"}));
}

}  // namespace
}  // namespace pictavo
