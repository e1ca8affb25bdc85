#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fileio/IniFile.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tessaron-ini-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        ini = (dir / "Tessaron.ini").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void Write(const std::string& content) { testsupport::WriteFileText(ini, content); }
    std::string Read() const { return testsupport::ReadFileText(ini); }
    size_t FilesInDir() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

    fs::path dir;
    std::string ini;
};

TEST(DeinterlaceFlagText, FollowsTheAtoiRules) {
    const struct {
        const char* text;
        int flag;
    } cases[] = {
        {"ERROR", 0},
        {"0", 0},
        {"1", 1},
        {"2", 1},
        {"-1", 1},
        {" 1", 1},
        {"abc", 0},
        {"error", 0},
        {"", 0},
        {"+7", 1},
        {"-0", 0},
        {"0001", 1},
        {"1abc", 1},
        {"\t\n 3", 1},
        {"- 1", 0},
        {"ERROR1", 0},
        {"99999999999999999999", 1},
        {"4294967296", 1},
        {"0x10", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(DeinterlaceFlagFromText(c.text), c.flag) << '"' << c.text << '"';
}

TEST_F(IniFileTest, MissingFileSectionOrKeyReadsAsOffAndCreatesNothing) {
    EXPECT_EQ(ReadDeinterlaceFlag(ini), 0);
    EXPECT_FALSE(fs::exists(ini));
    Write("[Other]\ndeinterlaceFlag=1\n");
    EXPECT_EQ(ReadDeinterlaceFlag(ini), 0);
    Write("[Tessaron]\nsomethingElse=1\n");
    EXPECT_EQ(ReadDeinterlaceFlag(ini), 0);
    Write("deinterlaceFlag=1\n[Tessaron]\n");
    EXPECT_EQ(ReadDeinterlaceFlag(ini), 0);
}

TEST_F(IniFileTest, ValuesReadFromTheFile) {
    const struct {
        const char* line;
        int flag;
    } cases[] = {
        {"deinterlaceFlag=ERROR", 0}, {"deinterlaceFlag=0", 0},     {"deinterlaceFlag=1", 1},
        {"deinterlaceFlag=2", 1},     {"deinterlaceFlag=-1", 1},    {"deinterlaceFlag= 1", 1},
        {"deinterlaceFlag=abc", 0},   {"deinterlaceFlag=error", 0}, {"  DeinterlaceFLAG  =  1  ", 1},
        {"deinterlaceFlag=\"1\"", 1}, {"deinterlaceFlag=", 0},
    };
    for (const auto& c : cases) {
        Write(std::string("; settings\n[tessaron]\r\n") + c.line + "\r\n");
        EXPECT_EQ(ReadDeinterlaceFlag(ini), c.flag) << c.line;
    }
}

TEST_F(IniFileTest, AtMost254CharactersOfTheValueAreRead) {
    Write("[Tessaron]\ndeinterlaceFlag=" + std::string(253, '0') + "1\n");
    EXPECT_EQ(ReadDeinterlaceFlag(ini), 1);
    Write("[Tessaron]\ndeinterlaceFlag=" + std::string(254, '0') + "1\n");
    EXPECT_EQ(ReadDeinterlaceFlag(ini), 0);
    EXPECT_EQ(IniGetValue("[s]\nk=" + std::string(300, 'x'), "s", "k", "d").size(), 254u);
}

TEST_F(IniFileTest, FirstSectionAndFirstKeyWin) {
    std::string content = "[Tessaron]\ndeinterlaceFlag=1\ndeinterlaceFlag=0\n[Tessaron]\ndeinterlaceFlag=0\n";
    EXPECT_EQ(IniGetValue(content, "Tessaron", "deinterlaceFlag", "ERROR"), "1");
    // Comment lines are not assignments.
    EXPECT_EQ(IniGetValue("[Tessaron]\n;deinterlaceFlag=1\n", "Tessaron", "deinterlaceFlag", "ERROR"), "ERROR");
}

TEST_F(IniFileTest, FirstWriteCreatesTheFile) {
    ASSERT_TRUE(WriteDeinterlaceFlag(ini, 1));
    EXPECT_EQ(Read(), "[Tessaron]\ndeinterlaceFlag=1\n");
    ASSERT_TRUE(WriteDeinterlaceFlag(ini, 0));
    EXPECT_EQ(Read(), "[Tessaron]\ndeinterlaceFlag=0\n");
    EXPECT_EQ(FilesInDir(), 1u) << "no temporary file may be left behind";
}

TEST_F(IniFileTest, AWriteKeepsEverythingElseOfAHandEditedFile) {
    const std::string before =
        "; Tessaron settings, edited by hand\r\n"
        "[Window]\r\n"
        "left=10\r\n"
        "\r\n"
        "[Tessaron]\r\n"
        "# the preference\r\n"
        "  deinterlaceFlag = ERROR   \r\n"
        "other=keep me\r\n"
        "\r\n"
        "[Last]\r\n"
        "x=y";
    Write(before);
    ASSERT_TRUE(WriteDeinterlaceFlag(ini, 1));
    std::string expected = before;
    expected.replace(expected.find(" ERROR   "), 9, "1");
    EXPECT_EQ(Read(), expected);
    EXPECT_EQ(ReadDeinterlaceFlag(ini), 1);
}

TEST_F(IniFileTest, AMissingKeyJoinsItsSectionAndAMissingSectionIsAppended) {
    Write("[Tessaron]\nother=1\n\n[Next]\na=b\n");
    ASSERT_TRUE(WriteDeinterlaceFlag(ini, 0));
    EXPECT_EQ(Read(), "[Tessaron]\nother=1\ndeinterlaceFlag=0\n\n[Next]\na=b\n");

    Write("[Next]\na=b");
    ASSERT_TRUE(WriteDeinterlaceFlag(ini, 1));
    EXPECT_EQ(Read(), "[Next]\na=b\n[Tessaron]\ndeinterlaceFlag=1\n");
}

TEST_F(IniFileTest, WriteFailuresLeaveNothingBehind) {
    std::string nowhere = (dir / "missing-folder" / "Tessaron.ini").string();
    EXPECT_FALSE(WriteDeinterlaceFlag(nowhere, 1));
    EXPECT_FALSE(fs::exists(dir / "missing-folder"));
    EXPECT_FALSE(WriteDeinterlaceFlag("", 1));
    // A folder where the file should be is neither read nor replaced.
    fs::create_directories(ini);
    EXPECT_EQ(ReadDeinterlaceFlag(ini), 0);
    EXPECT_FALSE(WriteDeinterlaceFlag(ini, 1));
    EXPECT_TRUE(fs::is_directory(ini));
    EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(IniFileTest, AWriteThroughASymbolicLinkUpdatesItsTarget) {
    fs::path target = dir / "real.ini";
    std::ofstream(target) << "[Tessaron]\ndeinterlaceFlag=0\n";
    fs::create_symlink(target, ini);
    ASSERT_TRUE(WriteDeinterlaceFlag(ini, 1));
    EXPECT_TRUE(fs::is_symlink(ini));
    EXPECT_EQ(ReadDeinterlaceFlag(target.string()), 1);
}

TEST_F(IniFileTest, WriteKeepsTheFilesPermissions) {
    Write("[Tessaron]\ndeinterlaceFlag=0\n");
    fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(WriteDeinterlaceFlag(ini, 1));
    EXPECT_EQ(fs::status(ini).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
