#include "common/profilefile.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using vx::readProfileString;
using vx::writeProfileString;

namespace {

class ProfileFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vx_profile_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / "vx.ini").string();
    }
    void TearDown() override { fs::remove_all(dir); }
    void put(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string get() const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Temporary files of a write left behind in the folder.
    int leftovers() const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir))
            n += e.path().filename().string().rfind("vx.ini.", 0) == 0;
        return n;
    }
    fs::path dir;
    std::string path;
};

TEST_F(ProfileFile, NewFileHoldsSectionsInWritingOrder) {
    EXPECT_EQ(readProfileString(path, "Com", "MBLastUsedPort", "dflt"), "dflt");
    EXPECT_TRUE(writeProfileString(path, "Date", "Date", "2015-02-27   10:00:00"));
    EXPECT_TRUE(writeProfileString(path, "Com", "MBLastUsedPort", "\\\\.\\COM24"));
    EXPECT_TRUE(writeProfileString(path, "Language", "GsSelectedLanguage", "english"));
    EXPECT_EQ(get(), "[Date]\nDate=2015-02-27   10:00:00\n[Com]\nMBLastUsedPort=\\\\.\\COM24\n"
                     "[Language]\nGsSelectedLanguage=english\n");
    EXPECT_EQ(readProfileString(path, "com", "mblastusedport", ""), "\\\\.\\COM24");
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(ProfileFile, WriteKeepsEveryOtherLine) {
    put("; made by hand\r\n[Other]\r\nx = 1\r\n\r\n[COM]\r\nSpeed=9\r\n  mblastusedport = COM1\r\nTail=2\r\n"
        "\r\n[Last]\r\ny=3");
    EXPECT_TRUE(writeProfileString(path, "Com", "MBLastUsedPort", "COM7"));
    EXPECT_EQ(get(), "; made by hand\r\n[Other]\r\nx = 1\r\n\r\n[COM]\r\nSpeed=9\r\nMBLastUsedPort=COM7\r\n"
                     "Tail=2\r\n\r\n[Last]\r\ny=3");
    // A key new to an existing section goes after its last line, before the blank line.
    EXPECT_TRUE(writeProfileString(path, "Other", "z", "4"));
    EXPECT_EQ(get(),
              "; made by hand\r\n[Other]\r\nx = 1\r\nz=4\r\n\r\n[COM]\r\nSpeed=9\r\nMBLastUsedPort=COM7\r\n"
              "Tail=2\r\n\r\n[Last]\r\ny=3");
    // A new section after a last line without a line break starts on a line of its own.
    EXPECT_TRUE(writeProfileString(path, "New", "k", "v"));
    EXPECT_EQ(get().substr(get().size() - 17), "y=3\r\n[New]\r\nk=v\r\n");
    EXPECT_EQ(readProfileString(path, "last", "Y", ""), "3");
}

TEST_F(ProfileFile, ReadsLikeTheClassicCall) {
    put("GsSelectedLanguage=english\n[Language]\nnoequals\nGsSelectedLanguage =  \"ENGLISH\" \n"
        "GsSelectedLanguage=magyar\n[Other]\nGsSelectedLanguage=x\n");
    EXPECT_EQ(readProfileString(path, "Language", "GsSelectedLanguage", "magyar"), "ENGLISH");
    EXPECT_EQ(readProfileString(path, "Language", "Missing", "d"), "d");
    EXPECT_EQ(readProfileString(path, "Missing", "GsSelectedLanguage", "d"), "d");
    // Duplicate keys: the first wins for reading and is the one a write replaces.
    EXPECT_TRUE(writeProfileString(path, "language", "gsselectedlanguage", "english"));
    EXPECT_EQ(get(), "GsSelectedLanguage=english\n[Language]\nnoequals\ngsselectedlanguage=english\n"
                     "GsSelectedLanguage=magyar\n[Other]\nGsSelectedLanguage=x\n");
}

TEST_F(ProfileFile, ValuesNeverBreakTheFile) {
    EXPECT_TRUE(writeProfileString(path, "Com", "MBLastUsedPort", "a\nb\r[Language]\nGsSelectedLanguage=x"));
    EXPECT_EQ(readProfileString(path, "Language", "GsSelectedLanguage", "none"), "none");
    EXPECT_EQ(readProfileString(path, "Com", "MBLastUsedPort", ""), "a b [Language] GsSelectedLanguage=x");
    EXPECT_FALSE(writeProfileString(path, "", "k", "v"));
    EXPECT_FALSE(writeProfileString(path, "s", "\n", "v"));
}

TEST_F(ProfileFile, HostileFilesGiveDefaultsAndSurviveWrites) {
    // Files that cannot be read whole or understood give defaults and are left exactly as they are:
    // writing the defaults back would overwrite values never read, or spoil another encoding.
    std::string junk;
    for (int i = 0; i < 5000; ++i)
        junk.push_back(static_cast<char>(i * 37));
    const std::string utf16 = std::string("\xFF\xFE[\0C\0o\0m\0]\0\n\0", 14);
    const std::string bigTail = "[Com]\nMBLastUsedPort=COM1\n" + std::string(2 << 20, ';') +
                                "\n[Language]\nGsSelectedLanguage=english\n";
    for (const std::string& text : {junk, utf16, bigTail, std::string(3 << 20, 'x') + "\n[Com]\nX=1\n"}) {
        put(text);
        EXPECT_EQ(readProfileString(path, "Language", "GsSelectedLanguage", "d"), "d");
        EXPECT_FALSE(writeProfileString(path, "Language", "GsSelectedLanguage", "magyar"));
        EXPECT_EQ(get(), text);
        EXPECT_EQ(leftovers(), 0);
    }
    // Up to the read limit a file is read whole, and rewritten.
    put("[Com]\n" + std::string(1000000, ';') + "\n[Language]\nGsSelectedLanguage=english\n");
    EXPECT_EQ(readProfileString(path, "Language", "GsSelectedLanguage", "d"), "english");
    EXPECT_TRUE(writeProfileString(path, "Com", "MBLastUsedPort", "COM4"));
    EXPECT_EQ(readProfileString(path, "Com", "MBLastUsedPort", "d"), "COM4");

    // An over-long value is no value; writing replaces the whole line.
    put("[Com]\nMBLastUsedPort=" + std::string(10000, 'y') + "\nNext=1\n");
    EXPECT_EQ(readProfileString(path, "Com", "MBLastUsedPort", "d"), "d");
    EXPECT_TRUE(writeProfileString(path, "Com", "MBLastUsedPort", "COM5"));
    EXPECT_EQ(get(), "[Com]\nMBLastUsedPort=COM5\nNext=1\n");

    // An over-long line that starts like a section header is none, for reading as for writing, so
    // what a write puts in is what the next read finds.
    put("[Com]" + std::string(5000, 'z') + "\nMBLastUsedPort=COM6\n");
    EXPECT_EQ(readProfileString(path, "Com", "MBLastUsedPort", "d"), "d");
    EXPECT_TRUE(writeProfileString(path, "Com", "MBLastUsedPort", "COM7"));
    EXPECT_EQ(readProfileString(path, "Com", "MBLastUsedPort", "d"), "COM7");

    put("");
    EXPECT_EQ(readProfileString(path, "Com", "MBLastUsedPort", "d"), "d");
}

TEST_F(ProfileFile, UnwritablePlacesFailQuietly) {
    // A folder that is really a file cannot be written even by root.
    put("[Com]\nMBLastUsedPort=COM1\n");
    EXPECT_FALSE(writeProfileString(path + "/x.ini", "a", "b", "c"));
    EXPECT_FALSE(writeProfileString((dir / "missing" / "x.ini").string(), "a", "b", "c"));
    EXPECT_EQ(readProfileString(path + "/x.ini", "a", "b", "d"), "d");
    // A settings path that is a folder reads as defaults and is not replaced.
    EXPECT_EQ(readProfileString(dir.string(), "Com", "MBLastUsedPort", "d"), "d");
    EXPECT_FALSE(writeProfileString(dir.string(), "Com", "MBLastUsedPort", "COM9"));
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_EQ(readProfileString(path, "Com", "MBLastUsedPort", ""), "COM1");

    // A file made read-only stays as it is, also for a user who could replace it.
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    EXPECT_FALSE(writeProfileString(path, "Com", "MBLastUsedPort", "COM9"));
    EXPECT_EQ(get(), "[Com]\nMBLastUsedPort=COM1\n");
    EXPECT_EQ(leftovers(), 0);

    // A pipe or a device is no settings file: nothing waits on it or copies it without end.
    const std::string fifo = (dir / "fifo.ini").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(readProfileString(fifo, "Com", "MBLastUsedPort", "d"), "d");
    EXPECT_FALSE(writeProfileString(fifo, "Com", "MBLastUsedPort", "COM9"));
    const fs::path zero = dir / "zero.ini";
    fs::create_symlink("/dev/zero", zero);
    EXPECT_EQ(readProfileString(zero.string(), "Com", "MBLastUsedPort", "d"), "d");
    EXPECT_FALSE(writeProfileString(zero.string(), "Com", "MBLastUsedPort", "COM9"));
    EXPECT_TRUE(fs::is_symlink(zero));
}

TEST_F(ProfileFile, WriteKeepsTheFilesLinkAndPermissions) {
    // A settings file kept elsewhere and linked in is updated where it lives.
    put("[Com]\nMBLastUsedPort=COM1\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path link = dir / "link.ini";
    fs::create_symlink(path, link);
    EXPECT_TRUE(writeProfileString(link.string(), "Com", "MBLastUsedPort", "COM2"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(get(), "[Com]\nMBLastUsedPort=COM2\n");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(leftovers(), 0);

    // A dangling link is written through: the file appears where it points, relative to the link.
    fs::create_directories(dir / "elsewhere");
    const fs::path dangling = dir / "dangling.ini";
    fs::create_symlink(fs::path("elsewhere") / "x.ini", dangling);
    EXPECT_TRUE(writeProfileString(dangling.string(), "Com", "MBLastUsedPort", "COM3"));
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(readProfileString((dir / "elsewhere" / "x.ini").string(), "Com", "MBLastUsedPort", ""), "COM3");
    // One into a missing folder, or a loop of links, stays as it is.
    const fs::path nowhere = dir / "nowhere.ini", loopA = dir / "a.ini", loopB = dir / "b.ini";
    fs::create_symlink(dir / "missing" / "x.ini", nowhere);
    fs::create_symlink(loopB, loopA);
    fs::create_symlink(loopA, loopB);
    for (const fs::path& p : {nowhere, loopA}) {
        EXPECT_EQ(readProfileString(p.string(), "Com", "MBLastUsedPort", "d"), "d");
        EXPECT_FALSE(writeProfileString(p.string(), "Com", "MBLastUsedPort", "COM4"));
        EXPECT_TRUE(fs::is_symlink(p));
    }
    EXPECT_EQ(fs::read_symlink(loopA), loopB);
}

} // namespace

TEST_F(ProfileFile, ASaveIsOneSafeReplacementKeepingTheMode) {
    put("[Com]\nMBLastUsedPort=COM1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    // A link planted where a fixed temporary name would be is never written through.
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "untouched";
    fs::create_symlink(victim, path + ".~tmp");
    EXPECT_EQ(vx::writeProfileStrings(path, {{"Com", "MBLastUsedPort", "COM2"},
                                             {"TrendWindow", "Left", "10"},
                                             {"TrendWindow", "Top", "20"}}),
              0);
    EXPECT_EQ(get(), "[Com]\nMBLastUsedPort=COM2\n[TrendWindow]\nLeft=10\nTop=20\n");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    std::stringstream v;
    v << std::ifstream(victim).rdbuf();
    EXPECT_EQ(v.str(), "untouched");
    EXPECT_EQ(leftovers(), 1); // the planted link, nothing of the write's
    // What cannot be written says why, and stays as it was.
    ASSERT_EQ(::chmod(path.c_str(), 0440), 0);
    EXPECT_EQ(vx::writeProfileStrings(path, {{"Com", "MBLastUsedPort", "COM3"}}), EACCES);
    EXPECT_EQ(get(), "[Com]\nMBLastUsedPort=COM2\n[TrendWindow]\nLeft=10\nTop=20\n");
}

TEST_F(ProfileFile, TwoWritersAtOnceLoseNothing) {
    const auto writer = [this](const char* key) {
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(vx::writeProfileStrings(path, {{"Both", key, std::to_string(i)}}), 0);
    };
    std::thread a(writer, "a"), b(writer, "b");
    a.join();
    b.join();
    EXPECT_EQ(readProfileString(path, "Both", "a", ""), "99");
    EXPECT_EQ(readProfileString(path, "Both", "b", ""), "99");
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(ProfileFile, ReadingAHugeFileWithoutLineBreaksIsBounded) {
    std::ofstream(path) << "[Com]\nMBLastUsedPort=";
    fs::resize_file(path, std::uintmax_t{256} << 20); // sparse: a line of zero bytes without end
    const auto bytesRead = [] {
        std::ifstream io("/proc/self/io");
        for (std::string line; std::getline(io, line);)
            if (line.rfind("rchar:", 0) == 0) return std::stoull(line.substr(6));
        return 0ull;
    };
    const auto before = bytesRead();
    ASSERT_GT(before, 0u);
    EXPECT_EQ(readProfileString(path, "Com", "MBLastUsedPort", "d"), "d");
    EXPECT_EQ(readProfileString(path, "Language", "GsSelectedLanguage", "d"), "d");
    EXPECT_LT(bytesRead() - before, 4u << 20);
}
