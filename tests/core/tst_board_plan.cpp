// A switchboard's files by address and its record as a table and as CSV.
#include "core/records/board_plan.h"

#include <gtest/gtest.h>

using namespace qvoksb::board;

TEST(BoardPlan, FileNamesByAddress)
{
    EXPECT_EQ(fileNameFor("%a.txt", 0x0A), "0A.txt");
    EXPECT_EQ(fileNameFor("щит/%a-%a.txt", 0xF7), "щит/F7-F7.txt");
    EXPECT_EQ(fileNameFor("feeder%.txt", 5), "feeder%.txt");
    EXPECT_EQ(patternProblem("%a.txt", 30), "");
    EXPECT_EQ(patternProblem("feeder.txt", 1), "");
    EXPECT_NE(patternProblem("feeder.txt", 2).find("нет %a"), std::string::npos);
    EXPECT_NE(patternProblem("", 1), "");
}

// The digest wraps on paper in groups of 16; the CSV keeps it whole, and the feeder's texts are
// quoted like any text of the settings export.
TEST(BoardPlan, TableAndCsv)
{
    const std::string digest(64, 'a');
    Row row;
    row.address = 0x2A;
    row.labels.feeder = "=Ф-12; \"Насосная\"";
    row.file = "2A.txt";
    row.digest = digest;
    row.result = "отличается (1)";
    row.date = "09.12.2026 11:40";
    const qvoksb::report::Table t = table({row});
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(t.rows[0][0].text, "2A");
    EXPECT_EQ(t.rows[0][4].text, std::string(16, 'a') + " " + std::string(16, 'a') + " " +
                                     std::string(16, 'a') + " " + std::string(16, 'a'));
    EXPECT_EQ(t.header.size(), t.widths.size());
    EXPECT_EQ(csvText({row}),
              "\xEF\xBB\xBF\"Адрес\";\"Объект\";\"Присоединение\";\"Файл\";\"SHA-256\";"
              "\"Результат\";\"Дата\"\r\n"
              "\"2A\";;\"'=Ф-12; \"\"Насосная\"\"\";\"2A.txt\";\"" +
                  digest + "\";\"отличается (1)\";\"09.12.2026 11:40\"\r\n");
}
