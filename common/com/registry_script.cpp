#include "registry_script.h"

#include <cctype>

namespace zv::com {
namespace {

// Deeper nesting than any registration needs is refused, so that a broken
// script cannot exhaust the stack.
constexpr size_t kMaxDepth = 32;

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

struct Token {
  enum class Kind { kWord, kQuoted, kEnd };
  Kind kind = Kind::kEnd;
  std::string text;
  size_t line = 1;
  bool Is(std::string_view word) const { return kind == Kind::kWord && text == word; }
  bool IsKeyword(std::string_view word) const { return kind == Kind::kWord && EqualsIgnoreCase(text, word); }
};

class Parser {
 public:
  Parser(std::string_view text, const ScriptVariables& variables)
      : source_(text.substr(0, text.find('\0'))), variables_(variables) {}

  std::optional<RegistryScript> Parse() {
    if (!Substitute()) return std::nullopt;
    text_ = substituted_;
    RegistryScript script;
    for (;;) {
      Token token;
      if (!Next(token)) return std::nullopt;
      if (token.kind == Token::Kind::kEnd) break;
      ScriptRoot root;
      if (token.kind != Token::Kind::kWord || !RootFromName(token.text, root.root)) {
        Fail(token.line, "unknown root key '" + token.text + "'");
        return std::nullopt;
      }
      if (!Expect("{")) return std::nullopt;
      if (!ParseBlock(nullptr, root.keys, 1)) return std::nullopt;
      script.roots.push_back(std::move(root));
    }
    return script;
  }

  const ScriptError& error() const { return error_; }

 private:
  static bool RootFromName(std::string_view name, RootKey& root) {
    static const struct {
      const char* shortName;
      const char* longName;
      RootKey root;
    } kRoots[] = {
        {"HKCR", "HKEY_CLASSES_ROOT", RootKey::kClassesRoot},     {"HKCU", "HKEY_CURRENT_USER", RootKey::kCurrentUser},
        {"HKLM", "HKEY_LOCAL_MACHINE", RootKey::kLocalMachine},   {"HKU", "HKEY_USERS", RootKey::kUsers},
        {"HKCC", "HKEY_CURRENT_CONFIG", RootKey::kCurrentConfig},
    };
    for (const auto& entry : kRoots) {
      if (EqualsIgnoreCase(name, entry.shortName) || EqualsIgnoreCase(name, entry.longName)) {
        root = entry.root;
        return true;
      }
    }
    return false;
  }

  // The keys and named values of one block, up to and including its
  // closing brace. `owner` is the key that opened the block (null for a root).
  bool ParseBlock(ScriptKey* owner, std::vector<ScriptKey>& keys, size_t depth) {
    if (depth > kMaxDepth) return Fail(line_, "keys nested too deeply");
    for (;;) {
      Token token;
      if (!Next(token)) return false;
      if (token.kind == Token::Kind::kEnd) return Fail(token.line, "missing '}'");
      if (token.Is("}")) return true;
      if (token.IsKeyword("val")) {
        if (!owner) return Fail(token.line, "named value outside a key");
        if (!ParseNamedValue(*owner)) return false;
        continue;
      }
      ScriptKey key;
      if (token.IsKeyword("NoRemove")) {
        key.flag = KeyFlag::kNoRemove;
        if (!Next(token)) return false;
      } else if (token.IsKeyword("ForceRemove")) {
        key.flag = KeyFlag::kForceRemove;
        if (!Next(token)) return false;
      }
      if (!TakeName(token, key.name)) return false;
      if (!Peek()) return false;
      if (peeked_.Is("=")) {
        Skip();
        ScriptValue value;
        if (!ParseValue(value)) return false;
        key.defaultValue = std::move(value);
        if (!Peek()) return false;
      }
      if (peeked_.Is("{")) {
        Skip();
        if (!ParseBlock(&key, key.subkeys, depth + 1)) return false;
      }
      keys.push_back(std::move(key));
    }
  }

  // "val Name = s 'text'": a named value of the key whose block holds it.
  bool ParseNamedValue(ScriptKey& owner) {
    Token name;
    if (!Next(name)) return false;
    std::string valueName;
    if (!TakeName(name, valueName)) return false;
    if (!Expect("=")) return false;
    ScriptValue value;
    if (!ParseValue(value)) return false;
    owner.values.emplace_back(std::move(valueName), std::move(value));
    return true;
  }

  bool ParseValue(ScriptValue& value) {
    Token type;
    if (!Next(type)) return false;
    Token data;
    if (type.IsKeyword("s")) {
      if (!Next(data)) return false;
      if (data.kind != Token::Kind::kQuoted) return Fail(data.line, "a string value must be quoted");
      value.type = ScriptValue::Type::kString;
      value.text = std::move(data.text);
      return true;
    }
    if (type.IsKeyword("d")) {
      if (!Next(data)) return false;
      if (data.kind == Token::Kind::kEnd || !ParseNumber(data.text, value.number))
        return Fail(data.line, "a number value must be decimal or 0x hexadecimal");
      value.type = ScriptValue::Type::kDword;
      return true;
    }
    return Fail(type.line, "unknown value type '" + type.text + "'");
  }

  static bool ParseNumber(std::string_view text, uint32_t& number) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      base = 16;
      text.remove_prefix(2);
    }
    if (text.empty()) return false;
    uint64_t result = 0;
    for (char c : text) {
      unsigned digit;
      if (c >= '0' && c <= '9')
        digit = static_cast<unsigned>(c - '0');
      else if (base == 16 && Lower(c) >= 'a' && Lower(c) <= 'f')
        digit = static_cast<unsigned>(Lower(c) - 'a' + 10);
      else
        return false;
      result = result * base + digit;
      if (result > 0xFFFFFFFFull) return false;
    }
    number = static_cast<uint32_t>(result);
    return true;
  }

  bool TakeName(const Token& token, std::string& name) {
    if (token.kind == Token::Kind::kEnd) return Fail(token.line, "missing name");
    if (token.kind == Token::Kind::kWord && (token.text == "{" || token.text == "}" || token.text == "="))
      return Fail(token.line, "missing name before '" + token.text + "'");
    if (token.text.empty()) return Fail(token.line, "empty name");
    if (token.text.find('\\') != std::string::npos) return Fail(token.line, "a name holds a backslash");
    name = token.text;
    return true;
  }

  bool Expect(std::string_view word) {
    Token token;
    if (!Next(token)) return false;
    if (!token.Is(word)) return Fail(token.line, "expected '" + std::string(word) + "'");
    return true;
  }

  bool Peek() {
    if (hasPeeked_) return true;
    if (!Read(peeked_)) return false;
    hasPeeked_ = true;
    return true;
  }
  void Skip() { hasPeeked_ = false; }

  bool Next(Token& token) {
    if (hasPeeked_) {
      hasPeeked_ = false;
      token = std::move(peeked_);
      return true;
    }
    return Read(token);
  }

  bool Read(Token& token) {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
    token = Token{};
    token.line = line_;
    if (pos_ >= text_.size()) return true;
    std::string raw;
    if (text_[pos_] == '\'') {
      token.kind = Token::Kind::kQuoted;
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size()) return Fail(token.line, "unterminated quoted text");
        const char c = text_[pos_++];
        if (c == '\'') {
          if (pos_ < text_.size() && text_[pos_] == '\'') {
            raw.push_back('\'');
            ++pos_;
            continue;
          }
          break;
        }
        if (c == '\n') ++line_;
        raw.push_back(c);
      }
    } else {
      token.kind = Token::Kind::kWord;
      while (pos_ < text_.size() && !IsSpace(text_[pos_]) && text_[pos_] != '\'') raw.push_back(text_[pos_++]);
    }
    token.text = std::move(raw);
    return true;
  }

  // Puts the variables' values in place before anything is read, so that
  // a value takes part in the quoting rules like the text around it. A
  // variable's name ends on its own line.
  bool Substitute() {
    size_t line = 1;
    for (size_t i = 0; i < source_.size(); ++i) {
      const char c = source_[i];
      if (c == '\n') ++line;
      if (c != '%') {
        substituted_.push_back(c);
        continue;
      }
      const size_t close = source_.find_first_of("%\n", i + 1);
      if (close == std::string_view::npos || source_[close] != '%') return Fail(line, "unterminated %variable%");
      const std::string name(source_.substr(i + 1, close - i - 1));
      if (name.empty()) {
        substituted_.push_back('%');
      } else {
        const auto found = variables_.find(name);
        if (found == variables_.end()) return Fail(line, "unknown variable %" + name + "%");
        substituted_.append(found->second);
      }
      i = close;
    }
    return true;
  }

  // Keeps the first error; always false, for "return Fail(...)".
  bool Fail(size_t line, std::string message) {
    if (error_.message.empty()) error_ = ScriptError{line, std::move(message)};
    return false;
  }

  std::string_view source_;
  std::string substituted_;
  std::string_view text_;
  const ScriptVariables& variables_;
  size_t pos_ = 0;
  size_t line_ = 1;
  Token peeked_;
  bool hasPeeked_ = false;
  ScriptError error_;
};

std::string Join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "\\" + name;
}

bool PathEquals(std::string_view a, std::string_view b) { return EqualsIgnoreCase(a, b); }

// `path` is `ancestor` or lies below it.
bool AtOrBelow(std::string_view path, std::string_view ancestor) {
  if (path.size() == ancestor.size()) return PathEquals(path, ancestor);
  return path.size() > ancestor.size() && path[ancestor.size()] == '\\' &&
         PathEquals(path.substr(0, ancestor.size()), ancestor);
}

bool IsKept(RootKey root, const std::string& path, const std::vector<KeptKey>& kept) {
  for (const KeptKey& key : kept)
    if (key.root == root && AtOrBelow(path, key.path)) return true;
  return false;
}

bool HoldsKept(RootKey root, const std::string& path, const std::vector<KeptKey>& kept) {
  for (const KeptKey& key : kept)
    if (key.root == root && key.path.size() > path.size() && AtOrBelow(key.path, path)) return true;
  return false;
}

long RegisterKey(RootKey root, const std::string& parent, const ScriptKey& key, RegistryEditor& registry) {
  const std::string path = Join(parent, key.name);
  if (key.flag == KeyFlag::kForceRemove)
    if (const long rc = registry.DeleteTree(root, path)) return rc;
  if (const long rc = registry.CreateKey(root, path)) return rc;
  if (key.defaultValue)
    if (const long rc = registry.SetValue(root, path, "", *key.defaultValue)) return rc;
  for (const auto& [name, value] : key.values)
    if (const long rc = registry.SetValue(root, path, name, value)) return rc;
  for (const ScriptKey& subkey : key.subkeys)
    if (const long rc = RegisterKey(root, path, subkey, registry)) return rc;
  return 0;
}

bool WrittenByScript(const ScriptKey& key, const std::string& valueName) {
  if (valueName.empty()) return key.defaultValue.has_value();
  for (const auto& entry : key.values)
    if (PathEquals(entry.first, valueName)) return true;
  return false;
}

// Nothing but what the script wrote is left in the key.
bool OnlyScriptContent(RootKey root, const std::string& path, const ScriptKey& key, RegistryEditor& registry) {
  if (registry.HasSubkeys(root, path)) return false;
  for (const std::string& name : registry.ValueNames(root, path))
    if (!WrittenByScript(key, name)) return false;
  return true;
}

long UnregisterKey(RootKey root, const std::string& parent, const ScriptKey& key, RegistryEditor& registry,
                   const std::vector<KeptKey>& kept, bool keepShared) {
  const std::string path = Join(parent, key.name);
  if (IsKept(root, path, kept) || (keepShared && SharedByBothBuilds(root, path))) return 0;
  // A kept key below a ForceRemove key saves that key from the whole
  // removal: it is then treated as a plain key.
  if (key.flag == KeyFlag::kForceRemove && !HoldsKept(root, path, kept)) return registry.DeleteTree(root, path);
  if (!registry.KeyExists(root, path)) return 0;

  long first = 0;
  auto note = [&first](long rc) {
    if (!first) first = rc;
  };
  for (const ScriptKey& subkey : key.subkeys) note(UnregisterKey(root, path, subkey, registry, kept, keepShared));
  if (key.flag != KeyFlag::kNoRemove && OnlyScriptContent(root, path, key, registry)) {
    note(registry.DeleteTree(root, path));
    return first;
  }
  // The key stays (shared, or still holding others' keys): only the named
  // values the script wrote go.
  for (const auto& entry : key.values) note(registry.DeleteValue(root, path, entry.first));
  return first;
}

}  // namespace

bool SharedByBothBuilds(RootKey root, std::string_view path) {
  if (root != RootKey::kClassesRoot) return false;
  // The keys the system redirects per view.
  for (std::string_view own : {"CLSID", "Interface", "DirectShow", "Media Type", "MediaFoundation"})
    if (AtOrBelow(path, own)) return false;
  return true;
}

std::string QuoteForScript(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size());
  for (char c : text) {
    quoted.push_back(c);
    if (c == '\'') quoted.push_back('\'');
  }
  return quoted;
}

std::optional<RegistryScript> ParseRegistryScript(std::string_view text, const ScriptVariables& variables,
                                                  ScriptError* error) {
  Parser parser(text, variables);
  std::optional<RegistryScript> script = parser.Parse();
  if (!script && error) *error = parser.error();
  return script;
}

long RegisterScript(const RegistryScript& script, RegistryEditor& registry) {
  for (const ScriptRoot& root : script.roots)
    for (const ScriptKey& key : root.keys)
      if (const long rc = RegisterKey(root.root, "", key, registry)) return rc;
  return 0;
}

long UnregisterScript(const RegistryScript& script, RegistryEditor& registry, const std::vector<KeptKey>& kept,
                      bool keepShared) {
  long first = 0;
  for (const ScriptRoot& root : script.roots) {
    for (const ScriptKey& key : root.keys) {
      const long rc = UnregisterKey(root.root, "", key, registry, kept, keepShared);
      if (!first) first = rc;
    }
  }
  return first;
}

}  // namespace zv::com
