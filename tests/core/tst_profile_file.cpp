// The INI-style profile file: reading what other programs and hands write, writing in one fixed
// form, and replacing a file on disk without ever leaving half of it.
#include "core/files/cp1251.h"
#include "core/files/profile_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace qvoksb;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace
{

using Names = std::vector<std::string>;

std::string cp(const char *utf8)
{
    bool lossless = false;
    std::string out = cp1251FromUtf8(utf8, &lossless);
    EXPECT_TRUE(lossless) << utf8;
    return out;
}

std::string readBytes(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a parsed file holds, in file order: each section as "[name]", then its keys as
// "key=value", one a line.
std::string layout(const ProfileFile &p)
{
    std::string out;
    for (const std::string &s : p.sectionNames()) {
        out += "[" + s + "]\n";
        for (const std::string &k : p.keyNames(s))
            out += k + "=" + p.value(s, k).value_or("(no value)") + "\n";
    }
    return out;
}

void writeBytes(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh folder per test, removed afterwards.
class ProfileFileOnDisk : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("profile-" + std::to_string(std::random_device{}()) + "-" + test->name());
        ASSERT_TRUE(fs::create_directories(dir_));
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    std::string path(const char *name) const { return (dir_ / name).string(); }
    Names folderEntries() const
    {
        Names names;
        for (const auto &e : fs::directory_iterator(dir_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static ProfileFile sample()
    {
        ProfileFile p;
        EXPECT_TRUE(p.setValue(cp("КОНФИГУРАЦИЯ"), cp("Частота сети"), "50"));
        EXPECT_TRUE(p.setValue("TFKsb", "FormVersion", "3"));
        return p;
    }

    fs::path dir_;
};

} // namespace

// --- reading ----------------------------------------------------------------------------------

TEST(ProfileFileParse, AllLineEndsAndNoFinalLineEnd)
{
    for (const char *eol : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(eol));
        const std::string text =
            std::string("[s]") + eol + "a=1" + eol + eol + "b=2" + eol + "[t]" + eol + "c=3";
        EXPECT_EQ(layout(ProfileFile::parse(text)), "[s]\na=1\nb=2\n[t]\nc=3\n");
    }
    // Mixed in one file; LF CR is two line ends, not one.
    EXPECT_EQ(layout(ProfileFile::parse("[s]\ra=1\r\nb=2\n\rc=3\r\r\nd=4")),
              "[s]\na=1\nb=2\nc=3\nd=4\n");
}

TEST(ProfileFileParse, BlanksQuotesCommentsAndStrayLines)
{
    const ProfileFile p = ProfileFile::parse("\xEF\xBB\xBF"
                                             "before=ignored\r\n"
                                             "  [ Sec ]  trailing\r\n"
                                             "; a=comment\r\n"
                                             "  # b=comment\r\n"
                                             "no equals sign\r\n"
                                             "=no key\r\n"
                                             " key one \t= \t value  one \r\n"
                                             "q=\"  quoted  \"\r\n"
                                             "qq=\"\"x\"\"\r\n"
                                             "half=\"open\r\n"
                                             "single='kept'\r\n"
                                             "empty=\r\n"
                                             "eq=a=b\r\n"
                                             "semi=x;y\r\n");
    EXPECT_EQ(layout(p), "[Sec]\n"
                         "key one=value  one\n"
                         "q=  quoted  \n"
                         "qq=\"x\"\n"
                         "half=\"open\n"
                         "single='kept'\n"
                         "empty=\n"
                         "eq=a=b\n"
                         "semi=x;y\n");
    EXPECT_EQ(p.valueOr("Sec", "empty", "fallback"), "");
    EXPECT_EQ(p.valueOr("Sec", "missing", "fallback"), "fallback");
    EXPECT_FALSE(p.value("Sec", "before"));
    EXPECT_FALSE(p.value("Sec", "no equals sign"));
    // A byte order mark anywhere but at the start is text.
    EXPECT_EQ(ProfileFile::parse("[s]\r\n\xEF\xBB\xBFk=v").keyNames("s"), (Names{"\xEF\xBB\xBFk"}));
}

TEST(ProfileFileParse, FirstOfRepeatedSectionsAndKeysCounts)
{
    const ProfileFile p = ProfileFile::parse("[A]\nk=first\nK=second\nx=1\n"
                                             "[b]\nk=b\n"
                                             "[a]\nk=third\nonly=later\n"
                                             "[B]\nk=b2\n");
    EXPECT_EQ(layout(p), "[A]\nk=first\nx=1\n[b]\nk=b\n");
    EXPECT_EQ(p.value("a", "K"), "first");
    EXPECT_FALSE(p.value("A", "only"));
    EXPECT_EQ(p.value("B", "k"), "b");
}

TEST(ProfileFileParse, BrokenHeadersAndBinaryLinesHideWhatFollows)
{
    const ProfileFile p = ProfileFile::parse("[s]\na=1\n"
                                             "[broken\nb=2\n"
                                             "[t]\nc=3\n"
                                             "[ ]\nd=4\n"
                                             "[u]\ne=\0\nf=6\n"
                                             "[v\0]\ng=7\n"
                                             "[w]\nh=8"s);
    EXPECT_EQ(layout(p), "[s]\na=1\n[t]\nc=3\n[u]\nf=6\n[w]\nh=8\n");
}

TEST(ProfileFileParse, NamesMatchWithoutRegardToCaseCyrillicIncluded)
{
    const ProfileFile p =
        ProfileFile::parse(cp("[Уставки МТЗ]\r\nВид МТЗ в фазах=3\r\nЁлка=1\r\nРежим работы реле "
                              "ВЫX1=0\r\n[TFKsb]\r\nFormVersion=3\r\n"));
    EXPECT_EQ(p.value(cp("УСТАВКИ МТЗ"), cp("ВИД МТЗ В ФАЗАХ")), "3");
    EXPECT_EQ(p.value(cp("уставки мтз"), cp("вид мтз в фазах")), "3");
    EXPECT_EQ(p.value(cp("уставки мтз"), cp("ёЛКА")), "1");
    EXPECT_EQ(p.value("tfksb", "FORMVERSION"), "3");
    EXPECT_EQ(p.keyNames(cp("УСТАВКИ МТЗ")).front(), cp("Вид МТЗ в фазах"));
    // Latin X written where the Cyrillic Х is looked for: not the same key.
    EXPECT_FALSE(p.value(cp("УСТАВКИ МТЗ"), cp("Режим работы реле ВЫХ1")));
    EXPECT_EQ(p.value(cp("УСТАВКИ МТЗ"), cp("Режим работы реле ВЫx1")), "0");
    EXPECT_FALSE(p.value(cp("УСТАВКИ ОЗЗ"), cp("Вид МТЗ в фазах")));
    EXPECT_TRUE(p.keyNames(cp("УСТАВКИ ОЗЗ")).empty());
}

TEST(ProfileFileParse, LongValuesAreCutAndHugeInputsStayLinear)
{
    const std::string longValue(100000, 'z');
    ProfileFile p = ProfileFile::parse("[s]\nk=" + longValue + "\nq=\"" + longValue + "\"\n");
    EXPECT_EQ(p.value("s", "k"), longValue.substr(0, ProfileFile::maxValueLength));
    EXPECT_EQ(p.value("s", "q"), longValue.substr(0, ProfileFile::maxValueLength));

    // Megabytes of one-character lines, of headers and of keys; these finish at once when each
    // line costs the same, and never when a line rescans what came before.
    std::string lines;
    for (int i = 0; i < 200000; ++i)
        lines += "[" + std::to_string(i % 1000) + "]\nk" + std::to_string(i) + "=v\n[\n=\n";
    p = ProfileFile::parse(lines);
    EXPECT_EQ(p.sectionNames().size(), 1000u);
    EXPECT_EQ(p.keyNames("999"), (Names{"k999"}));
    p = ProfileFile::parse(std::string(4 << 20, '\r'));
    EXPECT_TRUE(p.empty());
}

// --- writing ----------------------------------------------------------------------------------

TEST(ProfileFileWrite, ExactBytesInOrderOfFirstInsertion)
{
    ProfileFile p;
    EXPECT_TRUE(p.setValue(cp("КОНФИГУРАЦИЯ"), cp("Частота сети"), "50"));
    EXPECT_TRUE(p.setValue(cp("КОНФИГУРАЦИЯ"), cp("Способ выявления ОЗЗ"), "-1"));
    EXPECT_TRUE(p.setValue(cp("ИНФОРМАЦИЯ О ПОСЛЕДНЕМ ОТКЛЮЧЕНИИ"), cp("Причина отключения"), ""));
    EXPECT_TRUE(p.setValue(cp("ВЫХОДНЫЕ РЕЛЕ"), cp("Режим работы реле ВЫX1"), "1"));
    // Changing a key in any letter case updates it in place, spelled as first written.
    EXPECT_TRUE(p.setValue(cp("конфигурация"), cp("ЧАСТОТА СЕТИ"), "60"));

    // The same text byte by byte in code page 1251, written out by hand.
    const std::string expected =
        "[\xCA\xCE\xCD\xD4\xC8\xC3\xD3\xD0\xC0\xD6\xC8\xDF]\r\n"
        "\xD7\xE0\xF1\xF2\xEE\xF2\xE0 \xF1\xE5\xF2\xE8=60\r\n"
        "\xD1\xEF\xEE\xF1\xEE\xE1 \xE2\xFB\xFF\xE2\xEB\xE5\xED\xE8\xFF "
        "\xCE\xC7\xC7=-1\r\n"
        "[\xC8\xCD\xD4\xCE\xD0\xCC\xC0\xD6\xC8\xDF \xCE \xCF\xCE\xD1\xCB"
        "\xC5\xC4\xCD\xC5\xCC \xCE\xD2\xCA\xCB\xDE\xD7\xC5\xCD\xC8\xC8]\r\n"
        "\xCF\xF0\xE8\xF7\xE8\xED\xE0 \xEE\xF2\xEA\xEB\xFE\xF7\xE5\xED"
        "\xE8\xFF=\r\n"
        "[\xC2\xDB\xD5\xCE\xC4\xCD\xDB\xC5 \xD0\xC5\xCB\xC5]\r\n"
        "\xD0\xE5\xE6\xE8\xEC \xF0\xE0\xE1\xEE\xF2\xFB \xF0\xE5\xEB\xE5 "
        "\xC2\xDBX1=1\r\n";
    EXPECT_EQ(p.serialize(), expected);

    const ProfileFile back = ProfileFile::parse(expected);
    EXPECT_EQ(layout(back), layout(p));
    EXPECT_EQ(back.serialize(), expected);
}

TEST(ProfileFileWrite, ErasedSectionComesBackAtTheEnd)
{
    ProfileFile p = ProfileFile::parse("[TFKsb]\r\nA=1\r\n[TFKsbSpeedBar1]\r\nPosition=1\r\n"
                                       "Count=5\r\n[Other]\r\nB=2\r\n");
    EXPECT_TRUE(p.eraseSection("tfksbspeedbar1"));
    EXPECT_FALSE(p.eraseSection("TFKsbSpeedBar1"));
    EXPECT_FALSE(p.value("Other", "Position"));
    EXPECT_TRUE(p.setValue("TFKsbSpeedBar1", "Count", "4"));
    EXPECT_TRUE(p.setValue("Other", "B", "3"));
    EXPECT_EQ(p.serialize(), "[TFKsb]\r\nA=1\r\n[Other]\r\nB=3\r\n[TFKsbSpeedBar1]\r\nCount=4\r\n");
}

TEST(ProfileFileWrite, ValuesThatReadDifferentlyAreQuoted)
{
    const std::string values[] = {" lead", "trail\t", "\"both\"", "\"",  "\"x",  "x\"",
                                  "",      "a=b",     ";x",       "[x]", "\"\"", " \" "};
    ProfileFile p;
    for (std::size_t i = 0; i < std::size(values); ++i)
        ASSERT_TRUE(p.setValue("s", "k" + std::to_string(i), values[i])) << values[i];
    const std::string text = p.serialize();
    const ProfileFile back = ProfileFile::parse(text);
    for (std::size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(back.value("s", "k" + std::to_string(i)), values[i]);
    // Only the values that need them get quotes.
    EXPECT_NE(text.find("k0=\" lead\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("k2=\"\"both\"\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("k4=\"x\r\n"), std::string::npos);
    EXPECT_NE(text.find("k6=\r\n"), std::string::npos);
}

TEST(ProfileFileWrite, RefusesWhatWouldNotReadBack)
{
    ProfileFile p = ProfileFile::parse("[s]\r\nk=old\r\n");
    const std::string before = p.serialize();
    const std::string nul("a\0b", 3);
    const struct {
        std::string section, key, value;
    } refused[] = {
        {"s", "k", "line\r\nbreak"},
        {"s", "k", "cr\r"},
        {"s", "k", "lf\n"},
        {"s", "k", nul},
        {"s", "k", std::string(ProfileFile::maxValueLength + 1, 'v')},
        {"s", "", "v"},
        {"s", "a=b", "v"},
        {"s", "new\nline", "v"},
        {"s", nul, "v"},
        {"s", " k", "v"},
        {"s", "k\t", "v"},
        {"s", "[k", "v"},
        {"s", ";k", "v"},
        {"s", "#k", "v"},
        {"", "k", "v"},
        {"a]b", "k", "v"},
        {"s\r", "k", "v"},
        {nul, "k", "v"},
        {" s", "k", "v"},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(testing::PrintToString(r.section + "|" + r.key + "|" + r.value));
        EXPECT_FALSE(p.setValue(r.section, r.key, r.value));
    }
    EXPECT_EQ(p.serialize(), before);
    EXPECT_TRUE(p.setValue("s", "k", std::string(ProfileFile::maxValueLength, 'v')));
    // Brackets inside names are ordinary bytes to a reader.
    EXPECT_TRUE(p.setValue("[s", "k]", "v"));
    EXPECT_EQ(ProfileFile::parse(p.serialize()).value("[s", "k]"), "v");
}

// --- files ------------------------------------------------------------------------------------

TEST_F(ProfileFileOnDisk, SaveAndLoadByteExact)
{
    const ProfileFile p = sample();
    std::string err;
    ASSERT_TRUE(p.save(path("QvoKsb.ini"), &err)) << err;
    EXPECT_EQ(readBytes(path("QvoKsb.ini")), p.serialize());
    EXPECT_EQ(folderEntries(), (Names{"QvoKsb.ini"})); // no temporary file left behind

    ProfileFile q = ProfileFile::parse("[stale]\r\nx=1\r\n");
    ASSERT_TRUE(q.load(path("QvoKsb.ini"), &err)) << err;
    EXPECT_EQ(q.serialize(), p.serialize());
    EXPECT_EQ(q.value(cp("конфигурация"), cp("ЧАСТОТА СЕТИ")), "50");

    // Saving again replaces the whole file, keeping its mode.
#ifndef _WIN32
    ASSERT_EQ(::chmod(path("QvoKsb.ini").c_str(), 0640), 0);
#endif
    ProfileFile r;
    ASSERT_TRUE(r.setValue("only", "k", "v"));
    ASSERT_TRUE(r.save(path("QvoKsb.ini"), &err)) << err;
    EXPECT_EQ(readBytes(path("QvoKsb.ini")), "[only]\r\nk=v\r\n");
    EXPECT_EQ(folderEntries(), (Names{"QvoKsb.ini"}));
#ifndef _WIN32
    EXPECT_EQ(fs::status(path("QvoKsb.ini")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
}

// A name near the length limit still saves: the temporary file beside it is named shorter.
TEST_F(ProfileFileOnDisk, SaveUnderANameOfTheLongestLength)
{
    std::vector<std::string> names = {std::string(246, 'k') + ".ini"};
#ifndef _WIN32
    // 250 bytes of two-byte letters.
    std::string cyrillic;
    for (int i = 0; i < 123; ++i)
        cyrillic += "ж";
    names.push_back(cyrillic + ".ini");
#endif
    for (const std::string &name : names) {
        ASSERT_EQ(name.size(), 250u);
        std::string err;
        ASSERT_TRUE(sample().save(path(name.c_str()), &err)) << err;
        ASSERT_TRUE(sample().save(path(name.c_str()), &err)) << err; // and replaces it
        EXPECT_EQ(readBytes(path(name.c_str())), sample().serialize());
        EXPECT_EQ(folderEntries(), (Names{name}));
        fs::remove(path(name.c_str()));
    }
}

TEST_F(ProfileFileOnDisk, SaveThroughASymbolicLinkReplacesTheFileItNames)
{
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need privileges on Windows";
#else
    writeBytes(path("real.ini"), "old");
    fs::create_symlink("real.ini", path("link.ini"));
    std::string err;
    ASSERT_TRUE(sample().save(path("link.ini"), &err)) << err;
    EXPECT_TRUE(fs::is_symlink(path("link.ini")));
    EXPECT_EQ(readBytes(path("real.ini")), sample().serialize());
#endif
}

TEST_F(ProfileFileOnDisk, MissingFileLoadsEmpty)
{
    ProfileFile p = sample();
    std::string err = "untouched";
    EXPECT_TRUE(p.load(path("absent.ini"), &err));
    EXPECT_TRUE(p.empty());
    EXPECT_TRUE(p.load(path("no-folder/absent.ini"), &err));
    EXPECT_EQ(err, "untouched");
    EXPECT_TRUE(folderEntries().empty()); // loading creates nothing
}

TEST_F(ProfileFileOnDisk, UnreadablePathsFailAndKeepTheProfile)
{
#ifdef _WIN32
    GTEST_SKIP()
        << "named pipes, /dev/zero and permission bits are POSIX; the Windows cases are below";
#else
    writeBytes(path("file"), "[s]\r\nk=v\r\n");
    fs::create_directory(path("folder"));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    writeBytes(path("big.ini"), "[s]\r\n" + std::string(ProfileFile::maxFileSize, ';'));

    for (const char *name : {"folder", "fifo", "big.ini", "file/below"}) {
        SCOPED_TRACE(name);
        ProfileFile p = sample();
        std::string err;
        EXPECT_FALSE(p.load(path(name), &err));
        EXPECT_NE(err.find(path(name)), std::string::npos) << err;
        EXPECT_EQ(p.serialize(), sample().serialize());
    }
    std::string err;
    ProfileFile p;
    EXPECT_FALSE(p.load(path("folder"), &err));
    EXPECT_NE(err.find("это папка"), std::string::npos) << err;
    EXPECT_FALSE(p.load("/dev/zero", &err)); // a device that never ends
    EXPECT_FALSE(p.load(path("folder")));    // the reason is optional

    // No permission to read: the superuser reads anything, so an ordinary user tries.
    writeBytes(path("secret.ini"), "[s]\r\nk=v\r\n");
    ASSERT_EQ(::chmod(path("secret.ini").c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    const auto loadFails = [this] {
        ProfileFile q = sample();
        std::string why;
        return !q.load(path("secret.ini"), &why) && q.serialize() == sample().serialize() &&
               why.find("нет прав доступа") != std::string::npos;
    };
    if (::geteuid() == 0)
        EXPECT_EXIT(
            {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    std::_Exit(2);
                std::_Exit(loadFails() ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    else
        EXPECT_TRUE(loadFails());

    // Just at the limit is still a profile file.
    writeBytes(path("big.ini"), "[s]\r\nk=v\r\n" + std::string(ProfileFile::maxFileSize - 10, ';'));
    EXPECT_TRUE(p.load(path("big.ini"), &err)) << err;
    EXPECT_EQ(p.value("s", "k"), "v");
#endif
}

TEST_F(ProfileFileOnDisk, FailedSaveLeavesTheOldFileAsItWas)
{
#ifdef _WIN32
    GTEST_SKIP() << "ENOTDIR, permission bits and the file size limit are POSIX; the Windows cases "
                    "are below";
#else
    const std::string old = "[old]\r\nk=v\r\n";
    const ProfileFile p = sample();
    std::string err;

    // The target is a folder, or sits below a plain file.
    fs::create_directory(path("folder.ini"));
    EXPECT_FALSE(p.save(path("folder.ini"), &err));
    EXPECT_NE(err.find("это папка"), std::string::npos) << err;
    EXPECT_TRUE(fs::is_directory(path("folder.ini")));
    writeBytes(path("plain"), old);
    EXPECT_FALSE(p.save(path("plain/QvoKsb.ini"), &err));
    EXPECT_NE(err.find("не является папкой"), std::string::npos) << err;
    EXPECT_EQ(readBytes(path("plain")), old);
    EXPECT_FALSE(p.save(path("missing/QvoKsb.ini"), &err));
    EXPECT_NE(err.find("нет такого файла"), std::string::npos) << err;

    // A read-only file is refused, even to the superuser.
    writeBytes(path("ro.ini"), old);
    ASSERT_EQ(::chmod(path("ro.ini").c_str(), 0444), 0);
    EXPECT_FALSE(p.save(path("ro.ini"), &err));
    EXPECT_NE(err.find("нет прав доступа"), std::string::npos) << err;
    EXPECT_EQ(readBytes(path("ro.ini")), old);

    // The file size limit strikes half-way through the new text: the process lives on, the
    // old file stays and the partial temporary file is gone.
    writeBytes(path("QvoKsb.ini"), old);
    ProfileFile big;
    ASSERT_TRUE(big.setValue("s", "k", std::string(2000, 'x')));
    ASSERT_TRUE(big.setValue("s", "k2", std::string(2000, 'x')));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved1 = big.save(path("QvoKsb.ini"), &err);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_FALSE(saved1);
    EXPECT_NE(err.find("файл слишком велик"), std::string::npos) << err;
    EXPECT_EQ(readBytes(path("QvoKsb.ini")), old);

    EXPECT_EQ(folderEntries(), (Names{"QvoKsb.ini", "folder.ini", "plain", "ro.ini"}));
#endif
}

TEST_F(ProfileFileOnDisk, FolderThatCannotBeWrittenFails)
{
#ifdef _WIN32
    GTEST_SKIP() << "permission bits and setuid are POSIX";
#else
    // The file itself may be written; only the folder, where the temporary file goes, may not.
    writeBytes(path("QvoKsb.ini"), "old");
    ASSERT_EQ(::chmod(path("QvoKsb.ini").c_str(), 0666), 0);
    const auto saveFails = [this] {
        std::string err;
        const bool ok = sample().save(path("QvoKsb.ini"), &err);
        return !ok && err.find("нет прав доступа") != std::string::npos;
    };
    if (::geteuid() == 0) {
        // The superuser writes into any folder, so the save runs as an ordinary user.
        ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
        EXPECT_EXIT(
            {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    std::_Exit(2);
                std::_Exit(saveFails() ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    } else {
        ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
        EXPECT_TRUE(saveFails());
    }
    EXPECT_EQ(readBytes(path("QvoKsb.ini")), "old");
    EXPECT_EQ(folderEntries(), (Names{"QvoKsb.ini"}));
#endif
}

#ifdef _WIN32
TEST_F(ProfileFileOnDisk, OnWindowsCyrillicNamesWorkAndRefusedSavesKeepTheOldFile)
{
    const std::string old = "[old]\r\nk=v\r\n";
    const ProfileFile p = sample();
    std::string err;

    // A Cyrillic folder and file name, given in UTF-8.
    const std::string folder = path("") + "Уставки";
    fs::create_directory(fs::u8path(folder));
    const std::string named = folder + "\\Фидер 7.ini";
    ASSERT_TRUE(p.save(named, &err)) << err;
    EXPECT_EQ(readBytes(fs::u8path(named)), p.serialize());
    ProfileFile back;
    ASSERT_TRUE(back.load(named, &err)) << err;
    EXPECT_EQ(back.serialize(), p.serialize());

    // Not profiles: a folder, a device, a file past the limit.
    writeBytes(path("big.ini"), "[s]\r\n" + std::string(ProfileFile::maxFileSize, ';'));
    for (const std::string &name : {path("") + "Уставки", std::string("NUL"), path("big.ini")}) {
        SCOPED_TRACE(name);
        ProfileFile q = sample();
        EXPECT_FALSE(q.load(name, &err));
        EXPECT_NE(err.find(name), std::string::npos) << err;
        EXPECT_EQ(q.serialize(), sample().serialize());
    }

    // Refused saves: onto a folder, into a missing folder, onto a read-only file.
    EXPECT_FALSE(p.save(folder, &err));
    EXPECT_TRUE(fs::is_directory(fs::u8path(folder)));
    EXPECT_FALSE(p.save(path("missing\\QvoKsb.ini"), &err));
    writeBytes(path("ro.ini"), old);
    fs::permissions(path("ro.ini"),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(p.save(path("ro.ini"), &err));
    EXPECT_NE(err.find(path("ro.ini")), std::string::npos) << err;
    EXPECT_NE(err.find("нет прав доступа"), std::string::npos) << err;
    EXPECT_EQ(readBytes(path("ro.ini")), old);
    fs::permissions(path("ro.ini"), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(folderEntries().size(), 3u); // the folder, big.ini, ro.ini: no temporary file
}
#endif
