#include "platform/ini_text.h"

#include <algorithm>
#include <vector>

namespace plat::ini {

namespace {

struct Line {
    std::string_view text;  // without its line end
    std::size_t begin;      // offset of the line in the file
    std::size_t end;        // offset just past its line end
};

// Lines end in CR LF, LF or a lone CR.
std::vector<Line> SplitLines(std::string_view file) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < file.size()) {
        const std::size_t stop = std::min(file.find_first_of("\r\n", pos), file.size());
        std::size_t next = stop;
        if (next < file.size()) {
            next += file.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        }
        lines.push_back({file.substr(pos, stop - pos), pos, next});
        pos = next;
    }
    return lines;
}

// The line end the file already uses (its first); CR LF for a new file.
std::string_view LineEndOf(std::string_view file) {
    const std::size_t at = file.find_first_of("\r\n");
    if (at == std::string_view::npos) {
        return "\r\n";
    }
    if (file[at] == '\n') {
        return "\n";
    }
    return file.compare(at, 2, "\r\n") == 0 ? "\r\n" : "\r";
}

// Ctrl-Z counts as a blank: DOS editors end text files with it.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The text after a UTF-8 byte-order mark; editors such as Notepad write one.
std::string_view WithoutBom(std::string_view text) {
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        text.remove_prefix(kUtf8Bom.size());
    }
    return text;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// stored comes trimmed from the file; wanted loses its surrounding blanks.
bool SameName(std::string_view stored, std::string_view wanted) {
    const std::string_view a = stored;
    const std::string_view b = Trim(wanted);
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The name of a section header line, or nullopt when the line is no header.
// The name runs to the last "]" and loses blanks inside the brackets; a "["
// line without "]" is an ordinary line.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    const std::size_t close = line.rfind(']');
    if (close == 0 || close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(line.substr(1, close - 1));
}

struct Entry {
    std::string_view name;
    std::optional<std::string_view> value;  // nullopt: a line without "="
};

Entry SplitEntry(std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        return {Trim(line), std::nullopt};
    }
    return {Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

struct SectionSpan {
    std::size_t header;     // index of the header line
    std::size_t lastEntry;  // index of its last non-blank line (the header when empty)
    std::size_t end;        // index of the next header, or the line count
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionName(lines[i].text);
        if (!name || !SameName(*name, section)) {
            continue;
        }
        SectionSpan span{i, i, lines.size()};
        for (std::size_t j = i + 1; j < lines.size(); ++j) {
            if (SectionName(lines[j].text)) {
                span.end = j;
                break;
            }
            if (!Trim(lines[j].text).empty()) {
                span.lastEntry = j;
            }
        }
        return span;
    }
    return std::nullopt;
}

// The first line of the section that names key; nullopt when none does.
std::optional<std::size_t> FindKeyLine(const std::vector<Line>& lines, const SectionSpan& span,
                                       std::string_view key) {
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        if (!Trim(lines[i].text).empty() && SameName(SplitEntry(lines[i].text).name, key)) {
            return i;
        }
    }
    return std::nullopt;
}

std::string_view StripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

std::string SetValueInBody(std::string_view fileText, std::string_view section,
                           std::string_view key, std::string_view value) {
    const std::string_view eol = LineEndOf(fileText);
    // Leading blanks of a value would be lost on the next read anyway.
    while (!value.empty() && IsBlank(value.front())) {
        value.remove_prefix(1);
    }

    const auto lines = SplitLines(fileText);
    const auto span = FindSection(lines, section);
    std::string out;
    if (!span) {
        out.assign(fileText);
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') {
            out += eol;
        }
        out.append("[").append(section).append("]").append(eol);
        out.append(key).append("=").append(value).append(eol);
        return out;
    }
    if (const auto i = FindKeyLine(lines, *span, key)) {
        // The key keeps the spelling it has in the file; the line keeps its
        // own line end.
        const Line& line = lines[*i];
        out.assign(fileText.substr(0, line.begin));
        out.append(SplitEntry(line.text).name).append("=").append(value);
        out.append(fileText.substr(line.begin + line.text.size()));
        return out;
    }
    const Line& after = lines[span->lastEntry];
    out.assign(fileText.substr(0, after.end));
    if (after.end == fileText.size() && !out.empty() && out.back() != '\n' && out.back() != '\r') {
        out += eol;
    }
    out.append(key).append("=").append(value).append(eol);
    out.append(fileText.substr(after.end));
    return out;
}

}  // namespace

std::optional<std::string> FindValue(std::string_view fileText, std::string_view section,
                                     std::string_view key) {
    const auto lines = SplitLines(WithoutBom(fileText));
    const auto span = FindSection(lines, section);
    const auto i = span ? FindKeyLine(lines, *span, key) : std::nullopt;
    if (!i) {
        return std::nullopt;
    }
    // The first line of that name decides, even one without a value.
    const Entry entry = SplitEntry(lines[*i].text);
    if (!entry.value) {
        return std::nullopt;
    }
    return std::string(StripQuotes(*entry.value));
}

std::string SetValue(std::string_view fileText, std::string_view section, std::string_view key,
                     std::string_view value) {
    const std::string_view body = WithoutBom(fileText);
    std::string out(fileText.substr(0, fileText.size() - body.size()));
    return out + SetValueInBody(body, Trim(section), Trim(key), value);
}

std::string StripValueQuotes(std::string_view value) { return std::string(StripQuotes(value)); }

}  // namespace plat::ini
