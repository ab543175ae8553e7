#include "simulator/registry/registry_store.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <utility>

#include "simulator/text/utf8.h"

namespace kav::sim {
namespace {

constexpr char16_t kSeparator = u'\\';

bool IsControl(char16_t c) {
    return c < 0x20 || c == 0x7F;
}
bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

bool HasUnpairedSurrogate(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i])) {
            if (i + 1 >= text.size() || !IsLowSurrogate(text[i + 1])) return true;
            ++i;
        } else if (IsLowSurrogate(text[i])) {
            return true;
        }
    }
    return false;
}

// For messages: never fails, shows what cannot be encoded as '?', and cuts what would
// swamp the message (a whole key path can be thousands of characters).
std::string Printable(std::u16string_view text) {
    constexpr std::size_t kShownUnits = 200;
    std::u16string copy(text.substr(0, kShownUnits));
    if (copy.size() < text.size()) {
        if (IsHighSurrogate(copy.back())) copy.pop_back();
        copy += u"...";
    }
    for (std::size_t i = 0; i < copy.size(); ++i) {
        if (IsHighSurrogate(copy[i]) && i + 1 < copy.size() && IsLowSurrogate(copy[i + 1])) {
            ++i;
        } else if (IsHighSurrogate(copy[i]) || IsLowSurrogate(copy[i]) || IsControl(copy[i])) {
            copy[i] = u'?';
        }
    }
    return ToUtf8(copy);
}

// Strict: rejects overlong forms, encoded surrogates and code points past U+10FFFF.
bool FromUtf8(std::string_view bytes, std::u16string& out) {
    out.clear();
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        int extra = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (bytes.size() - i <= static_cast<std::size_t>(extra)) return false;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += extra + 1;
    }
    return true;
}

char16_t FoldChar(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    return c;
}

// nullptr when the path is valid, else what is wrong with it.
const char* KeyPathProblem(std::u16string_view path) {
    if (path.empty() || path.front() != kSeparator) return "a key path starts with '\\'";
    if (path.size() == 1) return nullptr;  // the root
    if (path.size() > RegistryStore::kMaxKeyPathLength) return "key path longer than 32767 characters";
    std::size_t start = 1;
    for (std::size_t depth = 1;; ++depth) {
        if (depth > RegistryStore::kMaxKeyDepth) return "key path deeper than 512 levels";
        const std::size_t end = std::min(path.find(kSeparator, start), path.size());
        const std::u16string_view name = path.substr(start, end - start);
        if (name.empty()) return "empty key name in the path";
        if (name.size() > RegistryStore::kMaxKeyNameLength) return "key name longer than 255 characters";
        for (char16_t c : name)
            if (IsControl(c)) return "control character in a key name";
        if (HasUnpairedSurrogate(name)) return "unpaired surrogate in a key name";
        if (end == path.size()) return nullptr;
        start = end + 1;
    }
}

void RequireKeyPath(std::u16string_view path) {
    if (const char* problem = KeyPathProblem(path))
        throw std::invalid_argument(std::string("registry key path \"") + Printable(path) + "\": " + problem);
}

void RequireValueName(std::u16string_view name) {
    if (!RegistryStore::IsValidValueName(name)) throw std::invalid_argument("registry value name too long");
}

std::u16string_view ParentOf(std::u16string_view path) {
    const std::size_t last = path.rfind(kSeparator);
    return last == 0 ? path.substr(0, 1) : path.substr(0, last);
}

std::u16string_view LastName(std::u16string_view path) {
    return path.substr(path.rfind(kSeparator) + 1);
}

// ---- writing ----

constexpr char kHex[] = "0123456789abcdef";

void AppendQuoted(std::string& out, std::u16string_view text) {
    out.push_back('"');
    std::u16string plain;
    auto flush = [&] {
        out += ToUtf8(plain);
        plain.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool paired = IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]);
        if (paired) {
            plain.push_back(c);
            plain.push_back(text[++i]);
            continue;
        }
        const char* escape = nullptr;
        switch (c) {
            case u'\\':
                escape = "\\\\";
                break;
            case u'"':
                escape = "\\\"";
                break;
            case u'\n':
                escape = "\\n";
                break;
            case u'\r':
                escape = "\\r";
                break;
            case u'\t':
                escape = "\\t";
                break;
            default:
                break;
        }
        if (escape != nullptr) {
            flush();
            out += escape;
        } else if (IsControl(c) || IsHighSurrogate(c) || IsLowSurrogate(c)) {
            flush();
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(c >> shift) & 0xF]);
        } else {
            plain.push_back(c);
        }
    }
    flush();
    out.push_back('"');
}

bool CanWriteBare(std::u16string_view name) {
    if (name.empty() || name == u"@") return false;
    if (IsBlank(name.front()) || IsBlank(name.back())) return false;
    if (name.front() == u'"' || name.front() == u';' || name.front() == u'#' || name.front() == u'[') return false;
    for (char16_t c : name)
        if (c == u'=' || IsControl(c)) return false;
    return !HasUnpairedSurrogate(name);
}

void AppendValueLine(std::string& out, std::u16string_view name, const RegistryValue& value) {
    if (name.empty())
        out.push_back('@');
    else if (CanWriteBare(name))
        out += ToUtf8(name);
    else
        AppendQuoted(out, name);
    out.push_back('=');
    switch (value.Type) {
        case RegistryType::Dword: {
            char digits[9];
            std::snprintf(digits, sizeof digits, "%08lx", static_cast<unsigned long>(value.Dword));
            out += "dword:";
            out += digits;
            break;
        }
        case RegistryType::String:
            AppendQuoted(out, value.Text);
            break;
        case RegistryType::ExpandString:
            out += "expand:";
            AppendQuoted(out, value.Text);
            break;
    }
    out.push_back('\n');
}

// ---- reading ----

struct ParseError {
    std::string reason;
};

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

class LineParser {
public:
    explicit LineParser(std::u16string_view line) : line_(line) {}

    bool AtEnd() const { return pos_ >= line_.size(); }
    char16_t Peek() const { return line_[pos_]; }
    void SkipBlanks() {
        while (!AtEnd() && IsBlank(Peek())) ++pos_;
    }
    std::u16string_view Rest() const { return line_.substr(pos_); }
    void Advance(std::size_t count) { pos_ += count; }

    // At the opening quote.
    std::u16string Quoted() {
        ++pos_;
        std::u16string text;
        while (true) {
            if (AtEnd()) throw ParseError{"unterminated string (missing closing '\"')"};
            const char16_t c = line_[pos_++];
            if (c == u'"') return text;
            if (c != u'\\') {
                text.push_back(c);
                continue;
            }
            if (AtEnd()) throw ParseError{"unterminated string (missing closing '\"')"};
            const char16_t e = line_[pos_++];
            switch (e) {
                case u'\\':
                case u'"':
                    text.push_back(e);
                    break;
                case u'n':
                    text.push_back(u'\n');
                    break;
                case u'r':
                    text.push_back(u'\r');
                    break;
                case u't':
                    text.push_back(u'\t');
                    break;
                case u'u': {
                    unsigned unit = 0;
                    for (int k = 0; k < 4; ++k) {
                        const int digit = AtEnd() ? -1 : HexValue(line_[pos_]);
                        if (digit < 0) throw ParseError{"\\u needs 4 hex digits"};
                        unit = unit << 4 | static_cast<unsigned>(digit);
                        ++pos_;
                    }
                    text.push_back(static_cast<char16_t>(unit));
                    break;
                }
                default:
                    throw ParseError{"unknown escape '\\" + Printable(std::u16string(1, e)) +
                                     "' (use \\\\ \\\" \\n \\r \\t or \\uXXXX)"};
            }
        }
    }

    // After the data: blanks, then nothing or a comment.
    void ExpectEnd() {
        SkipBlanks();
        if (!AtEnd() && Peek() != u';' && Peek() != u'#')
            throw ParseError{"unexpected text after the value: \"" + Printable(Rest()) + "\""};
    }

private:
    std::u16string_view line_;
    std::size_t pos_ = 0;
};

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

RegistryValue ParseData(LineParser& p) {
    p.SkipBlanks();
    if (!p.AtEnd() && p.Peek() == u'"') return RegistryValue::FromString(p.Quoted());
    const std::u16string_view rest = p.Rest();
    const std::size_t colon = rest.find(u':');
    if (colon == std::u16string_view::npos) {
        if (rest.empty()) throw ParseError{"missing data after '='"};
        throw ParseError{"unknown data \"" + Printable(rest) + "\" (expected dword:, \"text\" or expand:\"text\")"};
    }
    const std::u16string type = RegistryStore::Fold(Trim(rest.substr(0, colon)));
    p.Advance(colon + 1);
    if (type == u"DWORD") {
        p.SkipBlanks();
        std::uint32_t value = 0;
        int digits = 0;
        while (!p.AtEnd() && HexValue(p.Peek()) >= 0) {
            if (++digits > 8) throw ParseError{"dword takes at most 8 hex digits"};
            value = value << 4 | static_cast<std::uint32_t>(HexValue(p.Peek()));
            p.Advance(1);
        }
        if (digits == 0) throw ParseError{"dword needs 1 to 8 hex digits"};
        return RegistryValue::FromDword(value);
    }
    if (type == u"EXPAND") {
        p.SkipBlanks();
        if (p.AtEnd() || p.Peek() != u'"') throw ParseError{"expand: needs a quoted string"};
        return RegistryValue::FromExpandString(p.Quoted());
    }
    throw ParseError{"unknown value type \"" + Printable(rest.substr(0, colon)) +
                     "\" (expected dword:, \"text\" or expand:\"text\")"};
}

// "name=data" with its name bare, quoted or "@".
std::pair<std::u16string, RegistryValue> ParseValueLine(std::u16string_view trimmed) {
    LineParser p(trimmed);
    std::u16string name;
    if (p.Peek() == u'"') {
        name = p.Quoted();
        p.SkipBlanks();
        if (p.AtEnd() || p.Peek() != u'=') throw ParseError{"missing '=' after the value name"};
        p.Advance(1);
    } else {
        const std::size_t equals = trimmed.find(u'=');
        if (equals == std::u16string_view::npos) throw ParseError{"missing '=' (expected name=data)"};
        const std::u16string_view bare = Trim(trimmed.substr(0, equals));
        if (bare.empty()) throw ParseError{"empty value name (write @ for the unnamed value)"};
        if (bare != u"@") name = bare;
        p.Advance(equals + 1);
    }
    if (!RegistryStore::IsValidValueName(name)) throw ParseError{"value name longer than 16383 characters"};
    RegistryValue value = ParseData(p);
    p.ExpectEnd();
    return {std::move(name), std::move(value)};
}

}  // namespace

std::u16string RootedKeyPath(bool localMachine, std::u16string_view key) {
    std::u16string path = localMachine ? u"\\Registry\\Machine" : u"\\Registry\\User\\Current";
    // Appended piecewise: g++ 12 at -O3 warns falsely (-Wrestrict) on a concatenated temporary.
    if (!key.empty()) path.append(u"\\").append(key);
    return path;
}

RegistryBytes ToRegistryBytes(const RegistryValue& value) {
    constexpr std::uint32_t kRegSz = 1, kRegExpandSz = 2, kRegDword = 4;
    RegistryBytes data;
    if (value.Type == RegistryType::Dword) {
        data.type = kRegDword;
        for (int shift = 0; shift < 32; shift += 8)
            data.bytes.push_back(static_cast<std::uint8_t>(value.Dword >> shift));
        return data;
    }
    data.type = value.Type == RegistryType::String ? kRegSz : kRegExpandSz;
    for (char16_t unit : value.Text) {
        data.bytes.push_back(static_cast<std::uint8_t>(unit));
        data.bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    data.bytes.insert(data.bytes.end(), {0, 0});
    return data;
}

RegistryFileError::RegistryFileError(std::string file, std::size_t line, std::string reason)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + reason),
      file_(std::move(file)),
      line_(line),
      reason_(std::move(reason)) {}

RegistryStore::RegistryStore() {
    keys_.emplace(u"\\", Key{u"\\", {}});
}

bool RegistryStore::IsValidKeyPath(std::u16string_view path) {
    return KeyPathProblem(path) == nullptr;
}

std::u16string RegistryStore::Fold(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& c : folded) c = FoldChar(c);
    return folded;
}

const RegistryStore::Key* RegistryStore::FindLocked(std::u16string_view path) const {
    auto it = keys_.find(Fold(path));
    return it == keys_.end() ? nullptr : &it->second;
}

RegistryStore::Key* RegistryStore::FindLocked(std::u16string_view path) {
    auto it = keys_.find(Fold(path));
    return it == keys_.end() ? nullptr : &it->second;
}

RegistryStore::KeyMap::iterator RegistryStore::CreateLocked(KeyMap& keys, std::u16string_view path, bool withParents,
                                                            CreateResult* result) {
    const std::u16string folded = Fold(path);
    if (auto it = keys.find(folded); it != keys.end()) {
        if (result != nullptr) *result = CreateResult::Opened;
        return it;
    }
    const std::u16string_view parentPath = ParentOf(path);
    auto parent = keys.find(Fold(parentPath));
    if (parent == keys.end()) {
        if (!withParents) {
            if (result != nullptr) *result = CreateResult::ParentMissing;
            return keys.end();
        }
        parent = CreateLocked(keys, parentPath, true, nullptr);
    }
    std::u16string spelt = parent->second.Path;
    if (spelt.size() > 1) spelt.push_back(kSeparator);
    spelt += LastName(path);
    if (result != nullptr) *result = CreateResult::Created;
    return keys.emplace(folded, Key{std::move(spelt), {}}).first;
}

bool RegistryStore::KeyExists(std::u16string_view path) const {
    RequireKeyPath(path);
    std::lock_guard lock(mutex_);
    return FindLocked(path) != nullptr;
}

RegistryStore::CreateResult RegistryStore::CreateKey(std::u16string_view path, bool withParents) {
    RequireKeyPath(path);
    std::lock_guard lock(mutex_);
    CreateResult result;
    CreateLocked(keys_, path, withParents, &result);
    return result;
}

bool RegistryStore::DeleteKey(std::u16string_view path) {
    RequireKeyPath(path);
    if (path.size() == 1) return false;
    const std::u16string folded = Fold(path);
    const std::u16string prefix = folded + kSeparator;
    std::lock_guard lock(mutex_);
    auto it = keys_.find(folded);
    if (it == keys_.end()) return false;
    keys_.erase(it);
    // Not the next entry: names such as "Key 2" sort between "Key" and "Key\Sub".
    for (it = keys_.lower_bound(prefix); it != keys_.end() && it->first.starts_with(prefix);) it = keys_.erase(it);
    return true;
}

std::vector<std::u16string> RegistryStore::SubkeyNames(std::u16string_view path) const {
    RequireKeyPath(path);
    std::u16string prefix = Fold(path);
    if (prefix.size() > 1) prefix.push_back(kSeparator);
    std::vector<std::u16string> names;
    std::lock_guard lock(mutex_);
    for (auto it = keys_.upper_bound(prefix); it != keys_.end() && it->first.starts_with(prefix); ++it) {
        if (it->first.find(kSeparator, prefix.size()) == std::u16string::npos)
            names.emplace_back(LastName(it->second.Path));
    }
    return names;
}

std::vector<std::u16string> RegistryStore::ValueNames(std::u16string_view path) const {
    RequireKeyPath(path);
    std::vector<std::u16string> names;
    std::lock_guard lock(mutex_);
    if (const Key* key = FindLocked(path))
        for (const auto& [folded, value] : key->Values) names.push_back(value.Name);
    return names;
}

std::optional<std::u16string> RegistryStore::CanonicalPath(std::u16string_view path) const {
    RequireKeyPath(path);
    std::lock_guard lock(mutex_);
    const Key* key = FindLocked(path);
    return key == nullptr ? std::nullopt : std::optional<std::u16string>(key->Path);
}

std::optional<RegistryValue> RegistryStore::GetValue(std::u16string_view path, std::u16string_view name) const {
    RequireKeyPath(path);
    RequireValueName(name);
    std::lock_guard lock(mutex_);
    const Key* key = FindLocked(path);
    if (key == nullptr) return std::nullopt;
    auto it = key->Values.find(Fold(name));
    return it == key->Values.end() ? std::nullopt : std::optional<RegistryValue>(it->second.Value);
}

bool RegistryStore::SetValue(std::u16string_view path, std::u16string_view name, RegistryValue value) {
    RequireKeyPath(path);
    RequireValueName(name);
    std::lock_guard lock(mutex_);
    Key* key = FindLocked(path);
    if (key == nullptr) return false;
    // A value keeps the spelling of its name from when it was created, as in the registry.
    auto [it, inserted] = key->Values.try_emplace(Fold(name), NamedValue{std::u16string(name), {}});
    it->second.Value = std::move(value);
    return true;
}

bool RegistryStore::DeleteValue(std::u16string_view path, std::u16string_view name) {
    RequireKeyPath(path);
    RequireValueName(name);
    std::lock_guard lock(mutex_);
    Key* key = FindLocked(path);
    return key != nullptr && key->Values.erase(Fold(name)) == 1;
}

void RegistryStore::PutDword(std::u16string_view path, std::u16string_view name, std::uint32_t value) {
    CreateKey(path);
    SetValue(path, name, RegistryValue::FromDword(value));
}

void RegistryStore::PutString(std::u16string_view path, std::u16string_view name, std::u16string text) {
    CreateKey(path);
    SetValue(path, name, RegistryValue::FromString(std::move(text)));
}

std::optional<std::uint32_t> RegistryStore::GetDword(std::u16string_view path, std::u16string_view name) const {
    const std::optional<RegistryValue> value = GetValue(path, name);
    if (!value || value->Type != RegistryType::Dword) return std::nullopt;
    return value->Dword;
}

void RegistryStore::Clear() {
    std::lock_guard lock(mutex_);
    keys_.clear();
    keys_.emplace(u"\\", Key{u"\\", {}});
}

std::string RegistryStore::ToText() const {
    std::string out =
        "; Registry of the KavUSB simulator. [key path], then Name=dword:0000000f, Name=\"text\",\n"
        "; Name=expand:\"%text%\"; @ names the unnamed value; \\\\ \\\" \\n \\r \\t \\uXXXX escape in quotes.\n";
    std::lock_guard lock(mutex_);
    for (const auto& [folded, key] : keys_) {
        if (key.Path.size() == 1 && key.Values.empty()) continue;
        out += "\n[" + ToUtf8(key.Path) + "]\n";
        for (const auto& [name, value] : key.Values) AppendValueLine(out, value.Name, value.Value);
    }
    return out;
}

void RegistryStore::FromText(std::string_view text, const std::string& sourceName) {
    if (text.size() > kMaxTextSize) throw RegistryFileError(sourceName, 0, "larger than 16 MiB");
    KeyMap keys;
    keys.emplace(u"\\", Key{u"\\", {}});
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);

    Key* current = nullptr;
    std::size_t lineNumber = 0;
    std::size_t loadedPathUnits = 0;
    std::u16string line;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == text.size() ? end : end + 1);
        if (raw.ends_with('\r')) raw.remove_suffix(1);
        try {
            if (!FromUtf8(raw, line)) throw ParseError{"invalid UTF-8"};
            const std::u16string_view trimmed = Trim(line);
            if (trimmed.empty() || trimmed.front() == u';' || trimmed.front() == u'#') continue;

            if (trimmed.front() == u'[') {
                if (trimmed.back() != u']') throw ParseError{"a key line ends with ']'"};
                const std::u16string_view path = trimmed.substr(1, trimmed.size() - 2);
                if (const char* problem = KeyPathProblem(path))
                    throw ParseError{std::string(problem) + ": \"" + Printable(path) + "\""};
                const std::size_t before = keys.size();
                current = &CreateLocked(keys, path, true, nullptr)->second;
                // The keys just created are the path's last levels.
                std::size_t end = path.size();
                for (std::size_t created = keys.size() - before; created > 0; --created) {
                    loadedPathUnits += end;
                    end = path.rfind(kSeparator, end - 1);
                }
                if (loadedPathUnits > kMaxLoadedPathUnits)
                    throw ParseError{"too many or too deep keys: their paths exceed 16777216 characters in all"};
                continue;
            }

            if (current == nullptr) throw ParseError{"value outside of any [key] section"};
            auto [name, value] = ParseValueLine(trimmed);
            auto [it, inserted] = current->Values.try_emplace(Fold(name), NamedValue{name, std::move(value)});
            if (!inserted)
                throw ParseError{"value \"" + Printable(name) + "\" given twice in [" + Printable(current->Path) + "]"};
        } catch (const ParseError& error) {
            throw RegistryFileError(sourceName, lineNumber, error.reason);
        }
    }

    std::lock_guard lock(mutex_);
    keys_.swap(keys);
}

void RegistryStore::SaveFile(const std::filesystem::path& file) const {
    const std::string text = ToText();
    std::filesystem::path temporary = file;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            throw std::runtime_error("cannot write " + temporary.string());
        }
    }
    std::filesystem::rename(temporary, file);
}

void RegistryStore::LoadFile(const std::filesystem::path& file) {
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) throw RegistryFileError(file.string(), 0, "is a directory");
    // Refused before it is read into memory.
    if (const std::uintmax_t size = std::filesystem::file_size(file, error); !error && size > kMaxTextSize)
        throw RegistryFileError(file.string(), 0, "larger than 16 MiB");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw RegistryFileError(file.string(), 0, "cannot be opened");
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) throw RegistryFileError(file.string(), 0, "cannot be read");
    FromText(text, file.string());
}

}  // namespace kav::sim
