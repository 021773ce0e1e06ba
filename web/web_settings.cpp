#include "web/web_settings.h"

#include <sstream>
#include <vector>

#include <toml++/toml.h>

namespace web {
namespace {

std::string Where(std::string_view fileName, const toml::source_region& at) {
  return std::string(fileName) + " line " + std::to_string(at.begin.line);
}

// The lines of `text`, each without its line end.
std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(at, end - at));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    at = end + 1;
  }
  return lines;
}

std::string Trimmed(const std::string& line) {
  const std::size_t begin = line.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return line.substr(begin, line.find_last_not_of(" \t") - begin + 1);
}

// "[web]" with blanks or a comment around it.
bool IsWebHeader(const std::string& line) {
  std::string t = Trimmed(line.substr(0, line.find('#')));
  std::string compact;
  for (char c : t) {
    if (c != ' ' && c != '\t') compact += c;
  }
  return compact == "[web]";
}

bool IsTableHeader(const std::string& line) {
  return Trimmed(line).starts_with("[");
}

bool SetsKey(const std::string& line, std::string_view key) {
  const std::string t = Trimmed(line);
  if (!t.starts_with(key)) return false;
  const std::string rest = Trimmed(t.substr(key.size()));
  return rest.starts_with("=");
}

}  // namespace

platform::Result<WebSettings> ParseWebSettings(std::string_view text, std::string_view fileName) {
  toml::table root;
  try {
    root = toml::parse(text, fileName);
  } catch (const toml::parse_error& error) {
    return platform::Result<WebSettings>::Error(Where(fileName, error.source()) + ": " +
                                                std::string(error.description()));
  }
  WebSettings settings;
  const toml::node* web = root.get("web");
  if (web == nullptr) return settings;
  const toml::table* table = web->as_table();
  if (table == nullptr) {
    return platform::Result<WebSettings>::Error(Where(fileName, web->source()) +
                                                ": web must be a table ([web])");
  }
  settings.enabled = true;
  for (const char* key : {"listen", "token"}) {
    const toml::node* value = table->get(key);
    if (value == nullptr) continue;
    const std::optional<std::string> text = value->value<std::string>();
    if (!text) {
      return platform::Result<WebSettings>::Error(Where(fileName, value->source()) + ": web." +
                                                  key + " must be a text in quotes");
    }
    (std::string_view(key) == "listen" ? settings.listen : settings.token) = *text;
  }
  return settings;
}

platform::Result<std::string> WithWebTable(std::string_view text, std::string_view fileName,
                                           std::string_view listen, std::string_view token) {
  if (auto parsed = ParseWebSettings(text, fileName); !parsed) {
    return platform::Result<std::string>::Error(parsed.message() + "; it is left as it is");
  }
  const std::string crlf = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  const std::vector<std::string> lines = Lines(text);
  std::vector<std::string> out;
  bool inWeb = false;
  bool wrote = false;
  const auto ours = [&] {
    out.push_back("listen = \"" + std::string(listen) + "\"");
    out.push_back("token = \"" + std::string(token) + "\"");
    wrote = true;
  };
  for (const std::string& line : lines) {
    if (IsTableHeader(line)) {
      inWeb = IsWebHeader(line);
      out.push_back(line);
      if (inWeb && !wrote) ours();
      continue;
    }
    if (inWeb && (SetsKey(line, "listen") || SetsKey(line, "token"))) continue;
    out.push_back(line);
  }
  if (!wrote) {
    if (!out.empty() && !Trimmed(out.back()).empty()) out.push_back("");
    out.push_back("[web]");
    ours();
  }
  std::string result;
  for (const std::string& line : out) result += line + crlf;
  // What we wrote must read back as what we meant; a file laid out in a way
  // the line edit does not follow (a dotted web.token at the top) is refused.
  auto check = ParseWebSettings(result, fileName);
  if (!check || check.value().listen != listen || check.value().token != token) {
    return platform::Result<std::string>::Error(
        std::string(fileName) + " sets the web settings in a way this command does not edit (" +
        (check ? std::string("not in a [web] table") : check.message()) + "); write them by hand");
  }
  return result;
}

}  // namespace web
