#include "core/records/journal.h"

#include "core/files/cp1251.h"
#include "core/files/sha256.h"
#include "core/records/journal_read.h"
#include "core/settings/register_map.h"
#include "core/settings/settings_report.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace qvoksb::journal
{
namespace
{

std::string captionOf(std::string_view name, std::span<const Name> names)
{
    for (const Name &n : names)
        if (name == n.name)
            return n.caption;
    return std::string(name);
}

void appendString(std::string &out, std::string_view raw)
{
    const std::string text = validUtf8(raw);
    out += '"';
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

// A reader of one line's JSON object: strings, integers and null as values, nothing nested.
class LineParser
{
public:
    explicit LineParser(std::string_view text) : s_(text) {}

    bool parse(Record &record)
    {
        blanks();
        if (!take('{'))
            return false;
        blanks();
        if (take('}'))
            return finished();
        for (;;) {
            std::string key;
            blanks();
            if (!string(key))
                return false;
            blanks();
            if (!take(':'))
                return false;
            blanks();
            if (!value(key, record))
                return false;
            blanks();
            if (take('}'))
                return finished();
            if (!take(','))
                return false;
        }
    }

private:
    bool finished()
    {
        blanks();
        return i_ == s_.size();
    }
    void blanks()
    {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r'))
            ++i_;
    }
    bool take(char c)
    {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    static void putUtf8(std::string &out, uint32_t cp)
    {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | cp >> 6);
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | cp >> 12);
            out += char(0x80 | (cp >> 6 & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | cp >> 18);
            out += char(0x80 | (cp >> 12 & 0x3F));
            out += char(0x80 | (cp >> 6 & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    bool hex4(uint32_t &value)
    {
        if (s_.size() - i_ < 4)
            return false;
        const auto [end, ec] = std::from_chars(s_.data() + i_, s_.data() + i_ + 4, value, 16);
        if (ec != std::errc() || end != s_.data() + i_ + 4)
            return false;
        i_ += 4;
        return true;
    }
    bool string(std::string &out)
    {
        if (!take('"'))
            return false;
        while (i_ < s_.size()) {
            // The plain run up to the next quote, backslash or control character in one piece.
            std::size_t run = i_;
            while (run < s_.size() && s_[run] != '"' && s_[run] != '\\' &&
                   static_cast<unsigned char>(s_[run]) >= 0x20)
                ++run;
            out.append(s_.data() + i_, run - i_);
            i_ = run;
            if (i_ == s_.size())
                return false;
            const char c = s_[i_++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ == s_.size())
                return false;
            const char e = s_[i_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t cp = 0;
                if (!hex4(cp))
                    return false;
                if (cp >= 0xD800 && cp < 0xDC00) {
                    uint32_t low = 0;
                    if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low >= 0xE000)
                        return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp < 0xE000) {
                    return false;
                }
                putUtf8(out, cp);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
    bool integer(long long &out)
    {
        const char *first = s_.data() + i_;
        const auto [end, ec] = std::from_chars(first, s_.data() + s_.size(), out);
        if (ec != std::errc() || end == first)
            return false;
        i_ += std::size_t(end - first);
        return true;
    }
    bool value(const std::string &key, Record &record)
    {
        std::string *text = key == "time"       ? &record.time
                            : key == "program"  ? &record.program
                            : key == "port"     ? &record.port
                            : key == "kind"     ? &record.kind
                            : key == "outcome"  ? &record.outcome
                            : key == "message"  ? &record.message
                            : key == "source"   ? &record.source
                            : key == "sha256"   ? &record.sha256
                            : key == "lastTrip" ? &record.lastTrip
                                                : nullptr;
        int *number = key == "address"       ? &record.address
                      : key == "differences" ? &record.differences
                                             : nullptr;
        if (s_.substr(i_, 4) == "null") {
            i_ += 4;
            return true;
        }
        if (i_ < s_.size() && s_[i_] == '"') {
            std::string got;
            if (!string(got) || number)
                return false;
            if (text)
                *text = std::move(got);
            return true;
        }
        long long got = 0;
        if (!integer(got) || text)
            return false;
        if (number) {
            if (got < -1 || got > 1000000)
                return false;
            *number = int(got);
        }
        return true;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

} // namespace

std::string kindCaption(std::string_view name)
{
    return captionOf(name, Kinds);
}

std::string outcomeCaption(std::string_view name)
{
    return captionOf(name, Outcomes);
}

std::string configurationDigest(const SettingsSet &set)
{
    Sha256 sha;
    for (int step = 1; step <= int(modbus::ConfigurationBlocks.size()); ++step) {
        const registers::BlockValues values = registers::packBlock(step, set);
        for (std::size_t i = 0; i < modbus::ConfigurationBlocks[step - 1].count; ++i) {
            const uint8_t bytes[2] = {uint8_t(values[i] >> 8), uint8_t(values[i])};
            sha.update(bytes);
        }
    }
    return Sha256::hex(sha.finish());
}

std::string recordLine(const Record &r)
{
    std::string out = "{";
    const auto text = [&out](const char *key, const std::string &value) {
        if (out.size() > 1)
            out += ',';
        appendString(out, key);
        out += ':';
        appendString(out, value);
    };
    const auto number = [&out](const char *key, int value) {
        out += ',';
        appendString(out, key);
        out += ':';
        out += value < 0 ? std::string("null") : std::to_string(value);
    };
    text("time", r.time);
    text("program", r.program);
    text("port", r.port);
    number("address", r.address);
    text("kind", r.kind);
    text("outcome", r.outcome);
    text("message", r.message);
    text("source", r.source);
    text("sha256", r.sha256);
    number("differences", r.differences);
    text("lastTrip", r.lastTrip);
    return out + '}';
}

namespace
{

Record damagedRecord(std::string_view line)
{
    Record damaged;
    damaged.damaged = true;
    // Enough of the line to recognise it, cut on a character boundary.
    std::size_t keep = std::min<std::size_t>(line.size(), 200);
    while (keep < line.size() && keep > 0 &&
           (static_cast<unsigned char>(line[keep]) & 0xC0) == 0x80)
        --keep;
    damaged.raw = validUtf8(line.substr(0, keep));
    return damaged;
}

} // namespace

Record parseRecord(std::string_view line)
{
    Record record;
    if (line.size() > MaxLineBytes || !LineParser(line).parse(record) || record.time.empty() ||
        record.kind.empty())
        return damagedRecord(line);
    // A journal written by hand or by an older program may hold bytes that are no UTF-8.
    for (std::string *text : {&record.time, &record.program, &record.port, &record.kind,
                              &record.outcome, &record.message, &record.source, &record.sha256,
                              &record.lastTrip})
        if (std::any_of(text->begin(), text->end(), [](char c) { return c & 0x80; }))
            *text = validUtf8(*text);
    return record;
}

std::string validUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8CharLength(text, i);
        if (length > 0) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i]));
        out += escaped;
        ++i;
    }
    return out;
}

// --- reading within bounds ----------------------------------------------------------------------

LineCollector::LineCollector(bool startsInside)
    : skipping_(startsInside), cutStart_(startsInside), older_(startsInside)
{
}

void LineCollector::take(std::string_view line, int number)
{
    // A journal that went through a Windows editor ends its lines with CR LF.
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.find_first_not_of(" \t\r") == std::string_view::npos)
        return;
    Record record = parseRecord(line);
    record.line = number;
    if (kept_.size() < MaxRecords) {
        // Grown as records come, never past the bound: a small journal takes little, and a
        // large one no more than the records it keeps.
        if (kept_.size() == kept_.capacity())
            kept_.reserve(std::min(MaxRecords, std::max<std::size_t>(256, 2 * kept_.capacity())));
        kept_.push_back(std::move(record));
        return;
    }
    kept_[next_] = std::move(record);
    next_ = (next_ + 1) % MaxRecords;
    older_ = true;
}

void LineCollector::feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (end == std::string_view::npos) {
            bytes = {};
        } else {
            bytes.remove_prefix(end + 1);
        }
        if (!skipping_) {
            if (partial_.size() + piece.size() > MaxLineBytes) {
                // Too long for a record: its start is kept as a damaged line, the rest skipped.
                partial_.append(piece.substr(0, MaxLineBytes + 1 - partial_.size()));
                take(partial_, lineNumber_ + 1);
                partial_.clear();
                skipping_ = true;
            } else if (end != std::string_view::npos && partial_.empty()) {
                take(piece, lineNumber_ + 1); // the usual case: a whole line within the chunk
            } else {
                partial_.append(piece);
                if (end != std::string_view::npos) {
                    take(partial_, lineNumber_ + 1);
                    partial_.clear();
                }
            }
        }
        if (end != std::string_view::npos) {
            // The line cut at the start of the bytes gets no number.
            if (cutStart_)
                cutStart_ = false;
            else
                ++lineNumber_;
            skipping_ = false;
        }
    }
}

Reading LineCollector::finish()
{
    if (!skipping_ && !partial_.empty())
        take(partial_, lineNumber_ + 1);
    partial_.clear();
    Reading reading;
    std::rotate(kept_.begin(), kept_.begin() + std::ptrdiff_t(next_), kept_.end());
    reading.records = std::move(kept_);
    reading.older = older_;
    reading.damaged = int(std::count_if(reading.records.begin(), reading.records.end(),
                                        [](const Record &r) { return r.damaged; }));
    return reading;
}

Reading parse(std::string_view bytes)
{
    LineCollector lines;
    lines.feed(bytes);
    return lines.finish();
}

std::string csvText(const std::vector<const Record *> &records)
{
    std::string out = "\xEF\xBB\xBF";
    const auto line = [&out](std::initializer_list<std::string> fields) {
        bool first = true;
        for (const std::string &f : fields) {
            out += (first ? "" : ";") + report::csvField(f);
            first = false;
        }
        out += "\r\n";
    };
    line({"Время", "Программа", "Порт", "Адрес", "Действие", "Итог", "Сообщение", "Источник",
          "SHA-256", "Различий", "Последнее отключение"});
    for (const Record *r : records) {
        if (r->damaged) {
            line({"", "", "", "", "", "повреждённая строка " + std::to_string(r->line), r->raw, "",
                  "", "", ""});
            continue;
        }
        char address[16] = "";
        if (r->address >= 0)
            std::snprintf(address, sizeof address, "%02X", unsigned(r->address));
        line({r->time, r->program, r->port, address, kindCaption(r->kind),
              outcomeCaption(r->outcome), r->message, r->source, r->sha256,
              r->differences < 0 ? std::string() : std::to_string(r->differences), r->lastTrip});
    }
    return out;
}

} // namespace qvoksb::journal
