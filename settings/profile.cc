#include "settings/profile.h"

#include <optional>

#include "text/gbk.h"

namespace skjk {
namespace {

bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1a';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

// Equality of two GBK names, ignoring the case of ASCII letters only: the
// trail byte of a two-byte character may itself look like a letter.
bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (text::IsGbkLeadByte(static_cast<unsigned char>(a[i])) &&
        i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
      return false;
    }
  }
  return true;
}

// One line of a profile text.
struct Line {
  size_t begin = 0;  // first byte of the line
  size_t end = 0;    // end of its text, before the line end
  size_t next = 0;   // first byte of the next line
  enum Kind { kBlank, kSection, kEntry } kind = kBlank;
  std::string_view name;                  // section name or key, trimmed
  std::optional<std::string_view> value;  // trimmed, entries with "=" only
};

Line ParseLine(std::string_view content, size_t begin) {
  Line line;
  line.begin = begin;
  size_t end = begin;
  while (end < content.size() && content[end] != '\r' && content[end] != '\n') {
    ++end;
  }
  line.end = end;
  if (end < content.size()) {
    line.next = end + 1;
    if (content[end] == '\r' && line.next < content.size() &&
        content[line.next] == '\n') {
      ++line.next;
    }
  } else {
    line.next = end;
  }

  std::string_view text = Trim(content.substr(begin, end - begin));
  if (text.empty()) return line;
  if (text.front() == '[') {
    // The last "]" that is a character of its own, not a trail byte.
    std::optional<size_t> close;
    for (size_t i = 1; i < text.size(); ++i) {
      if (text::IsGbkLeadByte(static_cast<unsigned char>(text[i])) &&
          i + 1 < text.size()) {
        ++i;
      } else if (text[i] == ']') {
        close = i;
      }
    }
    if (close) {
      line.kind = Line::kSection;
      line.name = Trim(text.substr(1, *close - 1));
      return line;
    }
  }
  line.kind = Line::kEntry;
  size_t eq = text.find('=');  // "=" is never a trail byte
  if (eq == std::string_view::npos) {
    line.name = text;
  } else {
    line.name = Trim(text.substr(0, eq));
    line.value = Trim(text.substr(eq + 1));
  }
  return line;
}

// Where a key of a section stands in a profile text.
struct Location {
  bool section_found = false;
  // Where a new entry of the section goes: after its last non-blank line.
  size_t insert_at = 0;
  bool insert_needs_line_end = false;
  std::optional<Line> entry;
};

Location Locate(std::string_view content, std::string_view section,
                std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  Location loc;
  // Entries before the first header form the section with the empty name.
  bool inside = section.empty();
  loc.section_found = inside;
  for (size_t pos = 0; pos < content.size();) {
    Line line = ParseLine(content, pos);
    pos = line.next;
    if (line.kind == Line::kSection) {
      if (inside) break;  // only the first section of a name counts
      if (!loc.section_found && NamesEqual(line.name, section)) {
        inside = loc.section_found = true;
        loc.insert_at = line.next;
        loc.insert_needs_line_end = line.next == line.end;
      }
      continue;
    }
    if (!inside || line.kind == Line::kBlank) continue;
    loc.insert_at = line.next;
    loc.insert_needs_line_end = line.next == line.end;
    if (NamesEqual(line.name, key)) {
      loc.entry = line;
      break;
    }
  }
  return loc;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::string GetProfileValue(std::string_view content, std::string_view section,
                            std::string_view key) {
  Location loc = Locate(content, section, key);
  if (!loc.entry || !loc.entry->value) return {};
  std::string_view value = *loc.entry->value;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(text::TruncateGbk(value, kMaxProfileValue));
}

bool SetProfileValue(std::string* content, std::string_view section,
                     std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  value = Trim(value);
  Location loc = Locate(*content, section, key);
  if (loc.entry) {
    if (loc.entry->value && *loc.entry->value == value) return false;
    std::string line(loc.entry->name);
    line += '=';
    line += value;
    content->replace(loc.entry->begin, loc.entry->end - loc.entry->begin, line);
    return true;
  }
  std::string added;
  size_t at = loc.section_found ? loc.insert_at : content->size();
  bool needs_line_end = loc.section_found
                            ? loc.insert_needs_line_end
                            : !content->empty() && content->back() != '\n' &&
                                  content->back() != '\r';
  if (needs_line_end) added += "\r\n";
  if (!loc.section_found) {
    added += '[';
    added += section;
    added += "]\r\n";
  }
  added += key;
  added += '=';
  added += value;
  added += "\r\n";
  content->insert(at, added);
  return true;
}

Status CheckProfileEntry(std::string_view section, std::string_view key,
                         std::string_view value) {
  std::string_view trimmed_key = Trim(key);
  auto refuse = [&](std::string_view why) {
    return Status::Error("Cannot store key \"" + std::string(key) +
                         "\" of section [" + std::string(section) +
                         "]: " + std::string(why));
  };
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) {
    return refuse("line break");
  }
  if (Trim(section).empty()) return refuse("empty section name");
  if (section.find(']') != std::string_view::npos) {
    return refuse("\"]\" in section name");
  }
  // A lead byte at the end of the name as it is written (without blanks at
  // its ends) would take the closing "]" for its trail byte.
  std::string_view name = Trim(section);
  for (size_t i = 0; i < name.size(); ++i) {
    if (text::IsGbkLeadByte(static_cast<unsigned char>(name[i]))) {
      if (i + 1 == name.size()) {
        return refuse(
            "incomplete two-byte character at the end of the "
            "section name");
      }
      ++i;
    }
  }
  if (trimmed_key.empty()) return refuse("empty key");
  if (trimmed_key.front() == '[' ||
      trimmed_key.find('=') != std::string_view::npos) {
    return refuse("\"[\" or \"=\" in key");
  }
  return Status::OK();
}

std::string ReadProfileKey(Env* env, std::string_view path,
                           std::string_view section, std::string_view key) {
  std::string content;
  if (!env->FileExists(path) || !env->ReadFile(path, &content).ok()) return {};
  return GetProfileValue(content, section, key);
}

Status WriteProfileKey(Env* env, std::string_view path,
                       std::string_view section, std::string_view key,
                       std::string_view value) {
  if (Status s = CheckProfileEntry(section, key, value); !s.ok()) {
    return Status::Error(s.message() + " (" + std::string(path) + ")");
  }
  Status unable = Status::Error("Unable to write to " + std::string(path));
  std::string content;
  if (env->FileExists(path) && !env->ReadFile(path, &content).ok()) {
    return unable;
  }
  if (!SetProfileValue(&content, section, key, value)) return Status::OK();
  if (!env->WriteFile(path, content).ok()) return unable;
  return Status::OK();
}

}  // namespace skjk
