#include "batch/InputList.h"
#include "batch/OutputNames.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pictavo {
namespace {

using Names = std::vector<std::string>;

TEST(NameOutputs, FieldsNumbersAndRefusals)
{
    struct Case { std::string nameTemplate, series; Names inputs; bool mirror; Names outputs; std::string error; };
    const Case cases[] = {
        {"{series}{n}", " Trip ", {"a.jpg", "b.jpg"}, false, {"Trip01.jpg", "Trip02.jpg"}, ""},
        {"{stem}", "a/b", {"x/a.b.jpeg", "/abs/c.JPG", ".hidden.jpg"}, false, {"a.b.jpg", "c.jpg", ".hidden.jpg"}, ""},
        {"{n}_{stem}}{n}", "", {"p.jpg"}, false, {"01_p}01.jpg"}, ""},
        {"{series}{n}", "S", {"a.jpg", "d/b.jpg", "d/c.jpg", "e.jpg", "d/e/f.jpg"}, true,
         {"S01.jpg", "d/S01.jpg", "d/S02.jpg", "S02.jpg", "d/e/S01.jpg"}, ""},
        {"{stem}", "", {"a.jpg", "x/a.jpg"}, true, {"a.jpg", "x/a.jpg"}, ""},
        {"{stem}", "", {"a.jpg", "x/a.jpeg"}, false, {}, "a.jpg and x/a.jpeg would both be written as a.jpg."},
        {"same", "", {"a.jpg", "b.jpg"}, false, {}, "would both be written as same.jpg"},
        {"{series}", " ", {"a.jpg"}, false, {}, "The name template gives a.jpg an empty name"},
        {"{stem}", "", {"a\\b.jpg"}, false, {}, "The output name \"a\\b.jpg\" of a\\b.jpg must not contain"},
        {"../{n}", "", {"a.jpg"}, false, {}, "must not contain / or \\"},
        {"x{series}", "a/b", {"a.jpg"}, false, {}, "The series name \"a/b\" must not contain"},
    };
    for (const Case& c : cases) {
        Names outputs;
        const std::string error =
            test::ErrorOf([&] { outputs = NameOutputs(c.nameTemplate, c.series, c.inputs, c.mirror); });
        EXPECT_EQ(outputs, c.outputs) << c.nameTemplate;
        if (c.error.empty()) EXPECT_EQ(error, "") << c.nameTemplate;
        else EXPECT_NE(error.find(c.error), std::string::npos) << c.nameTemplate << ": " << error;
    }
    // The default template gives the series names of the window.
    Names many(120, "p.jpg");
    const Names outputs = NameOutputs(DefaultNameTemplate, "RurOdi", many, false);
    for (int i = 0; i < 120; ++i) EXPECT_EQ(outputs[static_cast<std::size_t>(i)], OutputName("RurOdi", i));
}

TEST(NameOutputs, SizeFieldsAreFilledOnceTheSizeIsKnown)
{
    // A stem that holds "{w}" stays as it is.
    const Names outputs = NameOutputs("{stem}-{w}x{h}", "", {"a.jpg", "{w}.jpg"}, false, "jpg", 3);
    EXPECT_TRUE(HasSizeFields(outputs[0]));
    EXPECT_EQ(WithSize(outputs[0], 640, 427), "a-640x427.jpg");
    EXPECT_EQ(WithSize(outputs[1], 8, 6), "{w}-8x6.jpg");
    EXPECT_FALSE(HasSizeFields(NameOutputs("{stem}", "", {"a.jpg"}, false)[0]));

    struct Case { std::string nameTemplate; int sizes; std::string error; };
    const Case refused[] = {
        {"{stem}", 2, "The sizes of one picture would all be written as one file. Nothing was written; put {w} or {h}"},
        {"{w}", 2, "a.jpg and b.jpg would both be written as {w}.jpg."},
        {"../{h}", 1, "The output name \"../{h}.jpg\" of a.jpg must not contain"},
    };
    for (const Case& c : refused) {
        const std::string error = test::ErrorOf([&] { NameOutputs(c.nameTemplate, "", {"a.jpg", "b.jpg"}, false, "jpg", c.sizes); });
        EXPECT_NE(error.find(c.error), std::string::npos) << c.nameTemplate << ": " << error;
    }
}

TEST(ScanTree, FoldersDepthFirstWithoutLinksOrTheOutputFolder)
{
    namespace fs = std::filesystem;
    test::ScratchDir dir;
    for (const char* folder : {"B/d", "a", "out"}) fs::create_directories(dir.path() / folder);
    for (const char* name : {"z.jpg", "B/c.jpg", "B/d/e.JPG", "B/d/f.png", "a/y.jpg", "out/RurOdi01.jpg"})
        test::WriteBytes(dir.file(name), {1});
    fs::create_directory_symlink(dir.path() / "B", dir.path() / "link");
    fs::create_directory_symlink(dir.path(), dir.path() / "B/d/loop");

    BatchModel model;
    ScanTree(model, dir.path().string(), dir.file("out"));
    EXPECT_EQ(model.imageFolder, dir.path().string() + "/");
    EXPECT_EQ(model.names, (Names{"z.jpg", "a/y.jpg", "B/c.jpg", "B/d/e.JPG"}));
}

}  // namespace
}  // namespace pictavo
