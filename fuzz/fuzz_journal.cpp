// The journal's reader on arbitrary bytes: fed in pieces of any size it reads the same records as
// from the whole, every text it keeps is valid UTF-8, a damaged line keeps only its start, and a
// record written back reads as the same record.
#include "core/files/cp1251.h"
#include "core/records/journal.h"
#include "core/records/journal_read.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace journal = qvoksb::journal;

namespace
{

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_journal: %s\n", what);
        std::abort();
    }
}

bool validUtf8(const std::string &text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = qvoksb::utf8CharLength(text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

bool same(const journal::Record &a, const journal::Record &b)
{
    return a.time == b.time && a.program == b.program && a.port == b.port &&
           a.address == b.address && a.kind == b.kind && a.outcome == b.outcome &&
           a.message == b.message && a.source == b.source && a.sha256 == b.sha256 &&
           a.differences == b.differences && a.lastTrip == b.lastTrip &&
           a.damaged == b.damaged && a.raw == b.raw && a.line == b.line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const journal::Reading whole = journal::parse(bytes);

    // The first byte chooses the size of the pieces.
    journal::LineCollector pieces;
    const std::size_t step = size ? 1 + std::size_t(data[0]) % 17 : 1;
    for (std::size_t at = 0; at < size; at += step)
        pieces.feed(bytes.substr(at, step));
    const journal::Reading fed = pieces.finish();
    check(fed.records.size() == whole.records.size(), "pieces give another number of records");
    for (std::size_t i = 0; i < whole.records.size(); ++i)
        check(same(fed.records[i], whole.records[i]), "pieces give another record");

    for (const journal::Record &r : whole.records) {
        for (const std::string *text : {&r.time, &r.program, &r.port, &r.kind, &r.outcome,
                                        &r.message, &r.source, &r.sha256, &r.lastTrip, &r.raw})
            check(validUtf8(*text), "a text kept is no UTF-8");
        check(r.raw.size() <= 4 * 200, "a damaged line kept whole");
        if (r.damaged)
            continue;
        const std::string line = journal::recordLine(r);
        check(validUtf8(line), "a record written is no UTF-8");
        journal::Record back = journal::parseRecord(line);
        back.line = r.line;
        check(same(back, r), "a record written back reads otherwise");
    }
    return 0;
}
