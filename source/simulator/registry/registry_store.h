// An in-memory registry for the simulator and the tests: keys addressed by backslash
// paths, names compared without regard to case, REG_DWORD / REG_SZ / REG_EXPAND_SZ
// values. Every member is safe to call from several threads at once.
//
// Text file format (UTF-8, optional byte-order mark, LF or CR LF line ends):
//
//   ; a comment (also '#'), on a line of its own
//   [\Registry\Machine\System\CurrentControlSet\Services\KavUSB\Parameters\DriverParameters]
//   Mode=dword:00000002
//   "Name with = or leading spaces"=dword:1
//   Title="Touch \"screen\""
//   Path=expand:"%SystemRoot%\\System32"
//   @="the key's default (unnamed) value"
//
// - "[path]" opens a key (created with its ancestors); the path is absolute and taken
//   verbatim between the first '[' and the last ']'. A section with no lines below it
//   still creates the key, so empty keys survive a save and load.
// - A value line is "name=data". The name is bare (up to the '=', surrounding blanks
//   dropped) or a quoted string; "@" alone is the default value.
// - Data: "dword:" with 1 to 8 hex digits; a quoted string (REG_SZ); "expand:" and a
//   quoted string (REG_EXPAND_SZ). Type words are case-insensitive. A comment may
//   follow the data.
// - Escapes in quoted text: \\ \" \n \r \t and \uXXXX (one UTF-16 code unit, so any
//   UTF-16 text round-trips, unpaired surrogates included).
// - A value named twice in one key is an error rather than a silent choice.
//
// A file that does not parse raises RegistryFileError naming the file, the line and
// the fault; the store keeps its previous content.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kav::sim {

enum class RegistryType { Dword, String, ExpandString };

struct RegistryValue {
    RegistryType Type = RegistryType::Dword;
    std::uint32_t Dword = 0;  // for Dword
    std::u16string Text;      // for String and ExpandString

    static RegistryValue FromDword(std::uint32_t value) { return {RegistryType::Dword, value, {}}; }
    static RegistryValue FromString(std::u16string text) { return {RegistryType::String, 0, std::move(text)}; }
    static RegistryValue FromExpandString(std::u16string text) {
        return {RegistryType::ExpandString, 0, std::move(text)};
    }
    bool operator==(const RegistryValue&) const = default;
};

// A value as RegQueryValueExW hands it out: the REG_* type code and the data, a DWORD in
// little-endian order or UTF-16LE text with its terminating null.
struct RegistryBytes {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
};
RegistryBytes ToRegistryBytes(const RegistryValue& value);

// The store's path of `key` (relative, no leading backslash) under HKEY_LOCAL_MACHINE or,
// when `localMachine` is false, HKEY_CURRENT_USER.
std::u16string RootedKeyPath(bool localMachine, std::u16string_view key);

class RegistryFileError : public std::runtime_error {
public:
    RegistryFileError(std::string file, std::size_t line, std::string reason);
    const std::string& File() const { return file_; }
    std::size_t Line() const { return line_; }  // 1-based; 0 when the file could not be read at all
    const std::string& Reason() const { return reason_; }

private:
    std::string file_;
    std::size_t line_;
    std::string reason_;
};

class RegistryStore {
public:
    // Key names in a path: 1 to 255 UTF-16 units, no control characters, no unpaired
    // surrogates (they could not be written to the file).
    static constexpr std::size_t kMaxKeyNameLength = 255;
    static constexpr std::size_t kMaxValueNameLength = 16383;
    // The registry's own tree depth, and the longest name a kernel string can hold.
    static constexpr std::size_t kMaxKeyDepth = 512;
    static constexpr std::size_t kMaxKeyPathLength = 32767;
    // Every key stores its whole path, so a text of many deep keys costs far more than
    // its own size: FromText refuses texts beyond the first bound, and stops once the
    // paths of the keys it created add up to more than the second.
    static constexpr std::size_t kMaxTextSize = 16 << 20;
    static constexpr std::size_t kMaxLoadedPathUnits = 16 << 20;

    enum class CreateResult { Created, Opened, ParentMissing };

    RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // An absolute key path: "\" then names separated by single backslashes, no trailing
    // one, at most kMaxKeyDepth names and kMaxKeyPathLength units in all. "\" alone is
    // the root, which always exists.
    static bool IsValidKeyPath(std::u16string_view path);
    static bool IsValidValueName(std::u16string_view name) { return name.size() <= kMaxValueNameLength; }

    // Paths and names that are not valid raise std::invalid_argument.
    bool KeyExists(std::u16string_view path) const;
    // withParents false: as the kernel creates keys, one level at a time.
    CreateResult CreateKey(std::u16string_view path, bool withParents = true);
    bool DeleteKey(std::u16string_view path);  // with its subkeys; false if absent or the root
    // Names as they were first created, in case-insensitive order.
    std::vector<std::u16string> SubkeyNames(std::u16string_view path) const;
    std::vector<std::u16string> ValueNames(std::u16string_view path) const;
    // The path in the spelling the store keeps; nullopt when absent.
    std::optional<std::u16string> CanonicalPath(std::u16string_view path) const;

    std::optional<RegistryValue> GetValue(std::u16string_view path, std::u16string_view name) const;
    // False when the key does not exist (values never create keys).
    bool SetValue(std::u16string_view path, std::u16string_view name, RegistryValue value);
    bool DeleteValue(std::u16string_view path, std::u16string_view name);

    // Conveniences for tests: the key is created when missing.
    void PutDword(std::u16string_view path, std::u16string_view name, std::uint32_t value);
    void PutString(std::u16string_view path, std::u16string_view name, std::u16string text);
    std::optional<std::uint32_t> GetDword(std::u16string_view path, std::u16string_view name) const;

    void Clear();

    std::string ToText() const;
    // Replaces the whole content; sourceName is the file named in errors.
    void FromText(std::string_view text, const std::string& sourceName = "<text>");
    // Writes a temporary file beside the target and renames it over the target, so a
    // failed save leaves the previous file whole. Failures raise std::runtime_error.
    void SaveFile(const std::filesystem::path& file) const;
    void LoadFile(const std::filesystem::path& file);

    // Comparison key of a name: ASCII and Latin-1 letters folded to upper case.
    static std::u16string Fold(std::u16string_view name);

private:
    struct NamedValue {
        std::u16string Name;
        RegistryValue Value;
    };
    struct Key {
        std::u16string Path;                          // as first spelt
        std::map<std::u16string, NamedValue> Values;  // by folded name
    };
    using KeyMap = std::map<std::u16string, Key>;  // by folded path; always holds the root

    static KeyMap::iterator CreateLocked(KeyMap& keys, std::u16string_view path, bool withParents,
                                         CreateResult* result);
    const Key* FindLocked(std::u16string_view path) const;
    Key* FindLocked(std::u16string_view path);

    mutable std::mutex mutex_;
    KeyMap keys_;
};

}  // namespace kav::sim
