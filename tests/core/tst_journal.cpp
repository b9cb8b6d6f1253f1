// The journal of work: SHA-256, records as JSON lines, appending and reading a damaged file.
#include "core/records/journal.h"
#include "core/settings/register_map.h"
#include "core/files/sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace qvoksb;
namespace fs = std::filesystem;

namespace
{

std::string hexOf(std::string_view bytes)
{
    return Sha256::hex(Sha256::of(bytes));
}

#ifndef _WIN32
// Python as the peer: runs `script` with `input` on its standard input, gives its output.
std::string python(const std::string &script, const std::string &input, const fs::path &dir)
{
    const fs::path in = dir / "python-in", code = dir / "python.py";
    std::ofstream(in, std::ios::binary) << input;
    std::ofstream(code) << script;
    FILE *pipe = ::popen(("python3 " + code.string() + " < " + in.string()).c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    if (pipe)
        ::pclose(pipe);
    return out;
}

bool havePython()
{
    return std::system("python3 -c pass >/dev/null 2>&1") == 0;
}
#endif

class JournalFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("journal-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        path_ = (dir_ / "sub" / "journal.jsonl").string();
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string contents() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static journal::Record sample(int n)
    {
        journal::Record r;
        r.time = "2026-12-08T14:05:0" + std::to_string(n % 10) + "+03:00";
        r.program = "qvoksb";
        r.port = "COM3";
        r.address = n;
        r.kind = "write";
        r.outcome = "ok";
        r.message = "Все параметры успешно записаны!";
        r.source = "файл /home/наладчик/фидер 5.txt";
        r.sha256 = hexOf("x");
        r.differences = 0;
        return r;
    }

    fs::path dir_;
    std::string path_;
};

} // namespace

// FIPS 180-2 appendix B, and the one-million-'a' message fed in pieces that straddle blocks.
TEST(Sha256, PublishedVectors)
{
    EXPECT_EQ(hexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    Sha256 sha;
    const std::string piece(997, 'a');
    std::size_t fed = 0;
    for (; fed + piece.size() <= 1000000; fed += piece.size())
        sha.update(piece);
    sha.update(std::string(1000000 - fed, 'a'));
    EXPECT_EQ(Sha256::hex(sha.finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

#ifndef _WIN32
// Every length around the padding's edges (55, 56, 63, 64 bytes ...) against Python's hashlib.
TEST_F(JournalFile, Sha256AgreesWithHashlib)
{
    if (!havePython())
        GTEST_SKIP() << "no python3";
    std::string data, expected;
    std::mt19937 random(7);
    for (int n = 0; n <= 200; ++n) {
        std::string message(std::size_t(n), '\0');
        for (char &c : message)
            c = char(random());
        data += message;
        expected += hexOf(message) + "\n";
    }
    const std::string got =
        python("import sys, hashlib\nd = sys.stdin.buffer.read()\nat = 0\n"
               "for n in range(201):\n    print(hashlib.sha256(d[at:at + n]).hexdigest())\n"
               "    at += n\n",
               data, dir_);
    EXPECT_EQ(got, expected);
}

// A line the journal writes is one JSON object Python reads back to the same fields.
TEST_F(JournalFile, LinesAreJsonPythonReads)
{
    if (!havePython())
        GTEST_SKIP() << "no python3";
    journal::Record r = sample(10);
    r.message = "кавычка \" обратная \\ строка\nвторая\tтаб \x01 конец";
    r.differences = -1;
    const std::string line = journal::recordLine(r);
    ASSERT_EQ(line.find('\n'), std::string::npos);
    const std::string got =
        python("import sys, json\no = json.loads(sys.stdin.buffer.read().decode('utf-8'))\n"
               "sys.stdout.buffer.write('|'.join(str(o[k]) for k in ('message', 'address', "
               "'differences', 'source')).encode('utf-8'))\n",
               line, dir_);
    EXPECT_EQ(got, r.message + "|10|None|" + r.source);
}
#endif

TEST(Journal, RecordRoundTripAndDamagedLines)
{
    journal::Record r;
    r.time = "2026-12-08T14:05:09+03:00";
    r.kind = "read";
    r.address = 0xF7;
    r.lastTrip = "8.12.2026 14:1:5: ТО";
    r.message = "a\"b\\c\r\n\x7f\u00e9 \U0001F600";
    const journal::Record back = journal::parseRecord(journal::recordLine(r));
    EXPECT_FALSE(back.damaged);
    EXPECT_EQ(back.message, r.message);
    EXPECT_EQ(back.address, 0xF7);
    EXPECT_EQ(back.differences, -1);
    EXPECT_EQ(back.lastTrip, r.lastTrip);
    // Escapes other writers use: surrogate pairs, \/; unknown keys and values are skipped.
    const journal::Record other = journal::parseRecord(
        R"( {"kind":"compare","time":"t","message":"\ud83d\ude00\/\u0416","extra":12,"x":null} )");
    EXPECT_FALSE(other.damaged);
    EXPECT_EQ(other.message, "\U0001F600/Ж");

    for (const char *bad : {"not json", "{\"time\":\"t\"}", R"({"time":"t","kind":"read")",
                            R"({"time":"t","kind":"read"} x)", R"({"time":"t","kind":{"a":1}})",
                            R"({"time":"t","kind":"read","address":"1"})",
                            R"({"time":"t","kind":"read","message":"\ud800"})",
                            R"({"time":"t","kind":"read","message":"cut)",
                            "{\"time\":\"t\",\"kind\":\"read\",\"message\":\"raw\ttab\"}"}) {
        const journal::Record got = journal::parseRecord(bad);
        EXPECT_TRUE(got.damaged) << bad;
        EXPECT_EQ(got.raw, bad);
    }
}

TEST_F(JournalFile, AppendsOneLinePerRecordAndSurvivesACutLine)
{
    ASSERT_TRUE(journal::append(path_, sample(1))); // creates the folder
    ASSERT_TRUE(journal::append(path_, sample(2)));
    // A record cut short by a crash, then a line edited into nonsense.
    {
        std::ofstream out(path_, std::ios::binary | std::ios::app);
        out << journal::recordLine(sample(3)).substr(0, 40);
    }
    ASSERT_TRUE(journal::append(path_, sample(4)));
    {
        std::ofstream out(path_, std::ios::binary | std::ios::app);
        out << "\n{broken}\r\n\n"; // as a Windows editor leaves it
    }
    ASSERT_TRUE(journal::append(path_, sample(5)));

    const std::string text = contents();
    EXPECT_EQ(text.back(), '\n');
    const journal::Reading reading = journal::read(path_);
    ASSERT_TRUE(reading.ok);
    EXPECT_EQ(reading.damaged, 2);
    std::vector<int> addresses, damagedLines;
    for (const journal::Record &r : reading.records) {
        if (r.damaged)
            damagedLines.push_back(r.line);
        else
            addresses.push_back(r.address);
    }
    EXPECT_EQ(addresses, (std::vector<int>{1, 2, 4, 5}));
    EXPECT_EQ(damagedLines, (std::vector<int>{3, 6})); // line 5 is blank
    EXPECT_EQ(reading.records[4].raw, "{broken}");
    EXPECT_EQ(reading.records[0].source, sample(1).source);

    // The file only ever grows: what was there stays byte for byte.
    ASSERT_TRUE(journal::append(path_, sample(6)));
    EXPECT_EQ(contents().substr(0, text.size()), text);

    const journal::Reading missing = journal::read((dir_ / "none.jsonl").string());
    EXPECT_TRUE(missing.ok);
    EXPECT_TRUE(missing.records.empty());
    EXPECT_FALSE(journal::read(dir_.string()).ok); // a folder is no journal
    EXPECT_FALSE(journal::append(dir_.string(), sample(7)));
}

// Junk lines, an endless line and a huge file cost only what is kept: the newest records, and of
// an over-long line its start.
TEST_F(JournalFile, ReadsWithinItsBounds)
{
    fs::create_directories(dir_ / "sub");
    {
        std::ofstream out(path_, std::ios::binary);
        for (std::size_t i = 0; i < journal::MaxRecords + 50000; ++i)
            out << "x\n";
        out << std::string(journal::MaxLineBytes * 3, 'y') << "\n";
        out << journal::recordLine(sample(7)) << "\n";
    }
    const journal::Reading junk = journal::read(path_);
    ASSERT_TRUE(junk.ok);
    ASSERT_EQ(junk.records.size(), journal::MaxRecords);
    EXPECT_TRUE(junk.older);
    const journal::Record &longLine = junk.records[journal::MaxRecords - 2];
    EXPECT_TRUE(longLine.damaged);
    EXPECT_EQ(longLine.line, int(journal::MaxRecords) + 50001);
    EXPECT_EQ(longLine.raw, std::string(200, 'y'));
    EXPECT_EQ(junk.records.back().address, 7);
    EXPECT_EQ(junk.records.front().line, 50000 + 3); // the oldest kept: two more lines are newer
    EXPECT_EQ(junk.damaged, int(journal::MaxRecords) - 1);

#ifndef _WIN32
    // A file larger than the byte bound (sparse, so it costs no disk) is read from the line after
    // the cut; the cut line, here all of the file's zeros, is no record.
    {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    }
    ASSERT_EQ(::truncate(path_.c_str(), off_t(journal::MaxReadBytes + (1 << 20))), 0);
    {
        std::ofstream out(path_, std::ios::binary | std::ios::app);
        out << "\n" << journal::recordLine(sample(8)) << "\n";
    }
    const journal::Reading huge = journal::read(path_);
    ASSERT_TRUE(huge.ok);
    ASSERT_EQ(huge.records.size(), 1u);
    EXPECT_EQ(huge.records[0].address, 8);
    EXPECT_TRUE(huge.older);

    // Only a regular file is read: not a device an endless link leads to, not a pipe.
    fs::remove(path_);
    fs::create_symlink("/dev/zero", path_);
    EXPECT_FALSE(journal::read(path_).ok);
    fs::remove(path_);
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    EXPECT_FALSE(journal::read(path_).ok);
#endif
}

// Bytes that start no character (a file name in another encoding) are kept as the text \xNN,
// so the file stays UTF-8 whatever a record carries.
TEST(Journal, TextIsValidUtf8)
{
    journal::Record r;
    r.time = "2026-12-08T14:05:09+03:00";
    r.kind = "write";
    r.source = "файл /home/u/\xcf\xf0\xe8\xec\xe5\xf0.txt"; // "Пример" in code page 1251
    r.message = "cut \xd0";
    const std::string line = journal::recordLine(r);
    EXPECT_EQ(journal::validUtf8(line), line);
    const journal::Record back = journal::parseRecord(line);
    EXPECT_EQ(back.source, "файл /home/u/\\xcf\\xf0\\xe8\\xec\\xe5\\xf0.txt");
    EXPECT_EQ(back.message, "cut \\xd0");
    // Such bytes written by another program, inside a record and in a damaged line.
    EXPECT_EQ(journal::parseRecord("{\"time\":\"t\",\"kind\":\"read\",\"port\":\"\xff\"}").port,
              "\\xff");
    EXPECT_EQ(journal::parseRecord("\xc0\xafЖ").raw, "\\xc0\\xafЖ");
}

#ifndef _WIN32
// A journal at the process's file size limit: the append fails and says so; the program is not
// ended by SIGXFSZ and leaves no half record behind.
TEST_F(JournalFile, AppendAtTheFileSizeLimitFails)
{
    ASSERT_TRUE(journal::append(path_, sample(1)));
    const std::string before = contents();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        struct rlimit limit {
        };
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = before.size() + 20;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string why;
        const bool written = journal::append(path_, sample(2), &why);
        ::_exit(!written && why.find(path_) != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(contents(), before);
}
#endif

// The digest is that of the register bytes the seven write requests carry.
TEST(Journal, ConfigurationDigestIsThatOfTheWrittenRegisters)
{
    SettingsSet set;
    set.setValue(Setting::RxSpinEdit9, 120);
    Sha256 sha;
    for (int step = 1; step <= 7; ++step) {
        std::array<uint8_t, 64> frame{};
        const std::size_t size = registers::buildWriteRequest(frame, 1, step, set);
        ASSERT_GT(size, 9u);
        // address, function, first register (2), count (2), byte count, data ..., CRC (2)
        sha.update(std::span<const uint8_t>(frame.data() + 7, frame[6]));
    }
    EXPECT_EQ(journal::configurationDigest(set), Sha256::hex(sha.finish()));
    EXPECT_EQ(journal::configurationDigest(registers::asUnitHolds(set)),
              journal::configurationDigest(set));
    EXPECT_NE(journal::configurationDigest(SettingsSet()), journal::configurationDigest(set));
}

#ifndef _WIN32
TEST_F(JournalFile, PathFollowsTheDataFolder)
{
    const char *saved = std::getenv("XDG_DATA_HOME");
    const std::string keep = saved ? saved : "";
    ::setenv("XDG_DATA_HOME", dir_.c_str(), 1);
    EXPECT_EQ(journal::journalPath(), (dir_ / "QvoKsb" / "journal.jsonl").string());
    ::setenv("XDG_DATA_HOME", "relative/folder", 1);
    EXPECT_EQ(journal::journalPath(),
              std::string(std::getenv("HOME")) + "/.local/share/QvoKsb/journal.jsonl");
    // Without a home: no journal, and no folder made at the root.
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::unsetenv("HOME");
    ::unsetenv("XDG_DATA_HOME");
    const bool rootHadIt = fs::exists("/.local/share/QvoKsb");
    EXPECT_EQ(journal::journalPath(), "");
    std::string why;
    EXPECT_FALSE(journal::append(journal::journalPath(), sample(1), &why));
    EXPECT_NE(why.find("HOME"), std::string::npos) << why;
    if (!rootHadIt) {
        EXPECT_FALSE(fs::exists("/.local/share/QvoKsb"));
    }
    ::setenv("HOME", home.c_str(), 1);
    if (saved)
        ::setenv("XDG_DATA_HOME", keep.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    const std::string now = journal::timeNow();
    EXPECT_EQ(now.size(), 25u) << now; // 2026-12-08T14:05:09+03:00
    EXPECT_EQ(now[10], 'T');
    EXPECT_EQ(now[22], ':');
}

// The CSV export read by Python's csv module: fields with ';', quotes and line breaks stay whole.
TEST_F(JournalFile, CsvReadsBackInPython)
{
    if (!havePython())
        GTEST_SKIP() << "no python3";
    journal::Record r = sample(0x0A);
    r.message = "ОШИБКА: a;b \"c\"\nd";
    const journal::Record damaged = journal::parseRecord("{oops");
    const std::string csv = journal::csvText({&r, &damaged});
    const std::string got =
        python("import sys, csv, io\nrows = list(csv.reader(io.StringIO(sys.stdin.buffer.read()"
               ".decode('utf-8-sig'), newline=''), delimiter=';'))\n"
               "sys.stdout.buffer.write(repr([len(x) for x in rows]).encode() + b'|' + "
               "'|'.join([rows[1][3], rows[1][4], rows[1][6], rows[2][6]]).encode('utf-8'))\n",
               csv, dir_);
    EXPECT_EQ(got, "[11, 11, 11]|0A|запись|" + r.message + "|{oops");
}
#endif
