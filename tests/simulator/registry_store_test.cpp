#include "simulator/registry/registry_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "simulator/data/data_file.h"

namespace kav::sim {
namespace {

constexpr char16_t kService[] = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KavUSB";

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

TEST(RegistryStore, KeysAreFoundWhateverTheCaseAndKeepTheirFirstSpelling) {
    RegistryStore store;
    const std::u16string path = std::u16string(kService) + u"\\Parameters";
    EXPECT_EQ(store.CreateKey(path), RegistryStore::CreateResult::Created);
    EXPECT_EQ(store.CreateKey(u"\\REGISTRY\\machine\\SYSTEM\\currentcontrolset\\services\\kavusb\\PARAMETERS"),
              RegistryStore::CreateResult::Opened);
    EXPECT_TRUE(store.KeyExists(u"\\registry\\MACHINE\\system"));
    EXPECT_EQ(store.CanonicalPath(u"\\REGISTRY\\MACHINE\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\KAVUSB\\PARAMETERS"),
              path);
    EXPECT_EQ(store.CanonicalPath(u"\\Registry\\Nowhere"), std::nullopt);

    // One level at a time, as the kernel creates keys.
    EXPECT_EQ(store.CreateKey(path + u"\\A\\B", false), RegistryStore::CreateResult::ParentMissing);
    EXPECT_FALSE(store.KeyExists(path + u"\\A"));
    EXPECT_EQ(store.CreateKey(path + u"\\a", false), RegistryStore::CreateResult::Created);
    EXPECT_EQ(store.CreateKey(path + u"\\A\\B", false), RegistryStore::CreateResult::Created);
    EXPECT_EQ(store.CanonicalPath(path + u"\\A\\B"), path + u"\\a\\B");

    // Latin-1 letters fold too.
    store.CreateKey(u"\\Caf\u00E9");
    EXPECT_TRUE(store.KeyExists(u"\\CAF\u00C9"));
}

TEST(RegistryStore, DeletingAKeyTakesItsSubkeysAndNothingElse) {
    RegistryStore store;
    // "Key 2" and "Key!" sort between "Key" and "Key\Sub": deletion must not stop at them.
    for (const char16_t* path : {u"\\Key\\Sub\\Deep", u"\\Key 2", u"\\Key!\\X", u"\\Key\\Other", u"\\Keys"})
        store.CreateKey(path);
    store.PutDword(u"\\Key\\Sub", u"V", 1);
    EXPECT_TRUE(store.DeleteKey(u"\\KEY"));
    for (const char16_t* gone : {u"\\Key", u"\\Key\\Sub", u"\\Key\\Sub\\Deep", u"\\Key\\Other"})
        EXPECT_FALSE(store.KeyExists(gone)) << Narrow(gone);
    for (const char16_t* kept : {u"\\Key 2", u"\\Key!", u"\\Key!\\X", u"\\Keys"})
        EXPECT_TRUE(store.KeyExists(kept)) << Narrow(kept);
    EXPECT_FALSE(store.DeleteKey(u"\\Key"));
    EXPECT_FALSE(store.DeleteKey(u"\\"));
    EXPECT_EQ(store.SubkeyNames(u"\\"), (std::vector<std::u16string>{u"Key 2", u"Key!", u"Keys"}));
    EXPECT_EQ(store.SubkeyNames(u"\\Key!"), std::vector<std::u16string>{u"X"});
}

TEST(RegistryStore, InvalidKeyPathsAreRefused) {
    const std::u16string tooLong = u"\\" + std::u16string(256, u'k');
    const std::u16string lone = u"\\a\xD800";
    const std::u16string cases[] = {u"", u"Registry\\Machine", u"\\a\\\\b", u"\\a\\", u"\\a\tb", tooLong, lone};
    RegistryStore store;
    for (const std::u16string& path : cases) {
        SCOPED_TRACE(Narrow(path));
        EXPECT_FALSE(RegistryStore::IsValidKeyPath(path));
        EXPECT_THROW(store.CreateKey(path), std::invalid_argument);
        EXPECT_THROW(store.GetValue(path, u"x"), std::invalid_argument);
    }
    EXPECT_TRUE(RegistryStore::IsValidKeyPath(u"\\"));
    EXPECT_TRUE(RegistryStore::IsValidKeyPath(u"\\" + std::u16string(255, u'k')));
    EXPECT_TRUE(RegistryStore::IsValidKeyPath(u"\\with space\\and=equals]"));
}

TEST(RegistryStore, ValuesHaveTypesAndCaseInsensitiveNames) {
    RegistryStore store;
    const std::u16string key = u"\\K";
    EXPECT_FALSE(store.SetValue(key, u"Mode", RegistryValue::FromDword(1)));  // values never create keys
    store.CreateKey(key);
    EXPECT_TRUE(store.SetValue(key, u"Mode", RegistryValue::FromDword(258)));
    EXPECT_EQ(store.GetValue(key, u"MODE"), RegistryValue::FromDword(258));
    EXPECT_EQ(store.GetDword(u"\\k", u"mode"), 258u);

    // Rewriting under another spelling changes the data, not the name.
    EXPECT_TRUE(store.SetValue(key, u"mode", RegistryValue::FromString(u"three")));
    EXPECT_EQ(store.GetValue(key, u"Mode"), RegistryValue::FromString(u"three"));
    EXPECT_EQ(store.GetDword(key, u"Mode"), std::nullopt);
    EXPECT_EQ(store.ValueNames(key), std::vector<std::u16string>{u"Mode"});

    store.SetValue(key, u"Path", RegistryValue::FromExpandString(u"%SystemRoot%"));
    EXPECT_EQ(store.GetValue(key, u"path")->Type, RegistryType::ExpandString);
    EXPECT_TRUE(store.DeleteValue(key, u"PATH"));
    EXPECT_FALSE(store.DeleteValue(key, u"Path"));
    EXPECT_EQ(store.GetValue(key, u"Path"), std::nullopt);
    EXPECT_EQ(store.GetValue(u"\\Missing", u"Path"), std::nullopt);
}

// Content that a text form must carry exactly: awkward names, escapes, text beyond
// the BMP, an unpaired surrogate, control characters and an empty key.
void FillAwkward(RegistryStore& store) {
    const std::u16string key = std::u16string(kService) + u"\\Parameters\\DriverParameters";
    store.PutDword(key, u"Mode", 0x0000000F);
    store.PutDword(key, u"BeepFrequency", 0xFFFFFFFF);
    store.PutDword(key, u"", 7);                 // the unnamed value
    store.PutDword(key, u"@", 8);                // a value really named "@"
    store.PutDword(key, u"a=b", 9);              // needs quoting
    store.PutDword(key, u"  padded ", 10);       // so do surrounding blanks
    store.PutDword(key, u";not a comment", 11);  // and a leading comment mark
    store.PutString(key, u"Title", u"Touch \"screen\" C:\\path\n\ttab\r");
    store.PutString(key, u"Unicode", u"\u00E9\u4E2D\U0001F600");
    store.PutString(key, u"Odd", std::u16string(u"x\xDC00y\x01z", 5));
    store.PutString(key, u"Empty", u"");
    store.CreateKey(key);
    store.SetValue(key, u"Expand", RegistryValue::FromExpandString(u"%SystemRoot%\\System32"));
    store.CreateKey(std::u16string(kService) + u"\\Enum\\Empty Key");
    store.PutDword(u"\\", u"AtTheRoot", 1);
}

TEST(RegistryStore, TextFormRoundTripsEverything) {
    RegistryStore store;
    FillAwkward(store);
    const std::string text = store.ToText();

    RegistryStore loaded;
    loaded.FromText(text);
    EXPECT_EQ(loaded.ToText(), text);
    const std::u16string key = std::u16string(kService) + u"\\Parameters\\DriverParameters";
    EXPECT_EQ(loaded.ValueNames(key), store.ValueNames(key));
    for (const std::u16string& name : store.ValueNames(key)) {
        SCOPED_TRACE(Narrow(name));
        EXPECT_EQ(loaded.GetValue(key, name), store.GetValue(key, name));
    }
    EXPECT_TRUE(loaded.KeyExists(std::u16string(kService) + u"\\Enum\\Empty Key"));
    EXPECT_EQ(loaded.GetDword(u"\\", u"AtTheRoot"), 1u);

    // Readable where it can be.
    EXPECT_NE(text.find("[\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KavUSB\\Parameters\\"
                        "DriverParameters]\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nMode=dword:0000000f\n"), std::string::npos);
    EXPECT_NE(text.find("\n@=dword:00000007\n"), std::string::npos);
    EXPECT_NE(text.find("\n\"@\"=dword:00000008\n"), std::string::npos);
    EXPECT_NE(text.find("\nExpand=expand:\"%SystemRoot%\\\\System32\"\n"), std::string::npos);
    EXPECT_NE(text.find("\nUnicode=\"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\"\n"), std::string::npos);
}

TEST(RegistryStore, HandWrittenFilesAreRead) {
    const std::string text =
        "\xEF\xBB\xBF; written by hand\r\n"
        "\r\n"
        "   [\\Registry\\Machine\\Test]   \r\n"
        "  # indented comment\n"
        "Mode = dword:f ; low nibble\n"
        "Big=DWORD:  FFFFffff\n"
        "\"Quoted name\"  =  \"text\"  # trailing comment\n"
        "Path=Expand:\"%x%\"\n"
        "@=\"default\"\n"
        "Escaped=\"\\u0041\\\\\\\"\"\n"
        "[\\Registry\\Machine\\Test\\Empty]\n"
        "[\\registry\\machine\\TEST]\n"
        "Later=dword:1\n";
    RegistryStore store;
    store.FromText(text, "hand.reg");
    const std::u16string key = u"\\Registry\\Machine\\Test";
    EXPECT_EQ(store.GetDword(key, u"Mode"), 0xFu);
    EXPECT_EQ(store.GetDword(key, u"Big"), 0xFFFFFFFFu);
    EXPECT_EQ(store.GetValue(key, u"quoted NAME"), RegistryValue::FromString(u"text"));
    EXPECT_EQ(store.GetValue(key, u"Path"), RegistryValue::FromExpandString(u"%x%"));
    EXPECT_EQ(store.GetValue(key, u""), RegistryValue::FromString(u"default"));
    EXPECT_EQ(store.GetValue(key, u"Escaped"), RegistryValue::FromString(u"A\\\""));
    EXPECT_EQ(store.GetDword(key, u"Later"), 1u);  // a key may be reopened further down
    EXPECT_TRUE(store.KeyExists(key + u"\\Empty"));
}

TEST(RegistryStore, BadLinesNameTheFileTheLineAndTheFault) {
    struct Case {
        std::string text;
        std::size_t line;
        std::string reason;  // a part of the message
    };
    const std::string key = "[\\K]\n";
    const Case cases[] = {
        {"Mode=dword:1\n", 1, "outside of any [key]"},
        {"; ok\n[\\K\n", 2, "ends with ']'"},
        {"[K]\n", 1, "starts with '\\'"},
        {"[\\a\\\\b]\n", 1, "empty key name"},
        {key + "Mode\n", 2, "missing '='"},
        {key + " = dword:1\n", 2, "empty value name"},
        {key + "Mode=dword:\n", 2, "1 to 8 hex digits"},
        {key + "Mode=dword:123456789\n", 2, "at most 8 hex digits"},
        {key + "Mode=dword:12g\n", 2, "unexpected text after the value"},
        {key + "Mode=qword:1\n", 2, "unknown value type \"qword\""},
        {key + "Mode=12\n", 2, "unknown data"},
        {key + "Mode=\n", 2, "missing data"},
        {key + "Text=\"open\n", 2, "unterminated string"},
        {key + "Text=\"bad \\q\"\n", 2, "unknown escape '\\q'"},
        {key + "Text=\"\\u12\"\n", 2, "4 hex digits"},
        {key + "Text=\"a\" \"b\"\n", 2, "unexpected text after the value"},
        {key + "Path=expand:%x%\n", 2, "quoted string"},
        {key + "\"Name\" dword:1\n", 2, "missing '=' after the value name"},
        {key + "Text=\"\xC3\x28\"\n", 2, "invalid UTF-8"},
        {key + "Text=\"\xED\xA0\x80\"\n", 2, "invalid UTF-8"},  // an encoded surrogate
        {key + "Mode=dword:1\nA=dword:2\r\nMODE=dword:3\n", 4, "\"MODE\" given twice in [\\K]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        RegistryStore store;
        store.PutDword(u"\\Before", u"Kept", 5);
        try {
            store.FromText(c.text, "params.reg");
            ADD_FAILURE() << "loaded";
        } catch (const RegistryFileError& error) {
            EXPECT_EQ(error.File(), "params.reg");
            EXPECT_EQ(error.Line(), c.line);
            EXPECT_NE(error.Reason().find(c.reason), std::string::npos) << error.Reason();
            EXPECT_EQ(std::string(error.what()), "params.reg:" + std::to_string(c.line) + ": " + error.Reason());
        }
        // A file that does not load changes nothing.
        EXPECT_EQ(store.GetDword(u"\\Before", u"Kept"), 5u);
        EXPECT_FALSE(store.KeyExists(u"\\K"));
    }
}

// A path of `depth` names of `nameLength` units, the first made of `first`.
std::u16string DeepPath(std::size_t depth, std::size_t nameLength, char16_t first = u'k') {
    std::u16string path;
    for (std::size_t level = 0; level < depth; ++level) {
        path.push_back(u'\\');
        path.append(nameLength, level == 0 ? first : u'k');
    }
    return path;
}

TEST(RegistryStore, KeyPathsAreBoundedInDepthAndLength) {
    struct Case {
        const char* what;
        std::u16string path;
        const char* problem;  // nullptr: valid
    };
    const Case cases[] = {
        {"512 levels", DeepPath(512, 1), nullptr},
        {"513 levels", DeepPath(513, 1), "deeper than 512 levels"},
        {"32767 units", DeepPath(127, 255).append(u"\\").append(254, u'k'), nullptr},
        {"32768 units", DeepPath(128, 255), "longer than 32767 characters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RegistryStore::IsValidKeyPath(c.path), c.problem == nullptr);
        RegistryStore store;
        const std::string text = "[" + Narrow(c.path) + "]\n";
        if (c.problem == nullptr) {
            store.FromText(text);
            EXPECT_TRUE(store.KeyExists(c.path));
            continue;
        }
        try {
            store.CreateKey(c.path);
            ADD_FAILURE() << "created";
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(c.problem), std::string::npos) << error.what();
            EXPECT_LT(std::string(error.what()).size(), 400u);  // the path is cut short in the message
        }
        try {
            store.FromText(text, "deep.reg");
            ADD_FAILURE() << "loaded";
        } catch (const RegistryFileError& error) {
            EXPECT_EQ(error.Line(), 1u);
            EXPECT_NE(error.Reason().find(c.problem), std::string::npos) << error.Reason();
        }
    }
}

TEST(RegistryStore, TextsThatWouldCostFarMoreThanTheirSizeAreRefused) {
    // Every key keeps its whole path: 127 levels of 255-unit names hold 2 M units of
    // paths, so nine such lines go past the 16 M the loader allows.
    std::string text;
    for (char first = 'a'; first < 'a' + 9; ++first)
        text.append("[").append(Narrow(DeepPath(127, 255, static_cast<char16_t>(first)))).append("]\n");
    RegistryStore store;
    store.PutDword(u"\\Before", u"Kept", 5);
    try {
        store.FromText(text, "wide.reg");
        ADD_FAILURE() << "loaded";
    } catch (const RegistryFileError& error) {
        EXPECT_EQ(error.Line(), 9u);
        EXPECT_NE(error.Reason().find("paths exceed 16777216 characters"), std::string::npos) << error.Reason();
    }
    EXPECT_EQ(store.GetDword(u"\\Before", u"Kept"), 5u);

    // Eight load, and a key named again costs nothing more.
    text.erase(text.rfind('['));
    text += text;
    store.FromText(text);
    EXPECT_TRUE(store.KeyExists(DeepPath(1, 255, u'h')));

    const std::string huge(RegistryStore::kMaxTextSize + 1, ';');
    try {
        store.FromText(huge, "huge.reg");
        ADD_FAILURE() << "loaded";
    } catch (const RegistryFileError& error) {
        EXPECT_EQ(error.Line(), 0u);
        EXPECT_EQ(error.Reason(), "larger than 16 MiB");
    }
}

TEST(RegistryStore, RefusesWhatFuzzingFound) {
    struct Case {
        const char* file;
        const char* reason;
    };
    const Case cases[] = {
        {"registry-timeout-deep-key-path.reg", "key path deeper than 512 levels"},
        {"registry-oom-deep-key-path-20k.reg", "key path longer than 32767 characters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        RegistryStore store;
        try {
            store.FromText(kav::test::DataFile(c.file), c.file);
            ADD_FAILURE() << "loaded";
        } catch (const RegistryFileError& error) {
            EXPECT_EQ(error.Line(), 1u);
            EXPECT_NE(error.Reason().find(c.reason), std::string::npos) << error.Reason();
        }
    }
}

class RegistryStoreFile : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() / (std::string("kav_registry_") + info->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(RegistryStoreFile, SaveAndLoadRoundTripAndReplaceTheFileWhole) {
    const std::filesystem::path file = dir_ / "registry.txt";
    RegistryStore store;
    FillAwkward(store);
    store.SaveFile(file);
    store.PutDword(u"\\Second", u"Save", 2);
    store.SaveFile(file);  // over the previous file
    EXPECT_FALSE(std::filesystem::exists(dir_ / "registry.txt.tmp"));

    RegistryStore loaded;
    loaded.PutDword(u"\\Replaced", u"Gone", 1);
    loaded.LoadFile(file);
    EXPECT_EQ(loaded.ToText(), store.ToText());
    EXPECT_FALSE(loaded.KeyExists(u"\\Replaced"));
    EXPECT_EQ(loaded.GetDword(u"\\second", u"save"), 2u);
}

TEST_F(RegistryStoreFile, UnreadableAndBadFilesAreReported) {
    RegistryStore store;
    try {
        store.LoadFile(dir_ / "missing.txt");
        ADD_FAILURE() << "loaded";
    } catch (const RegistryFileError& error) {
        EXPECT_EQ(error.Line(), 0u);
        EXPECT_NE(error.File().find("missing.txt"), std::string::npos);
    }

    EXPECT_THROW(store.LoadFile(dir_), RegistryFileError);  // not an empty registry

    const std::filesystem::path file = dir_ / "bad.txt";
    std::ofstream(file, std::ios::binary) << "[\\K]\nMode=dword:1\nBeep=word:2\n";
    try {
        store.LoadFile(file);
        ADD_FAILURE() << "loaded";
    } catch (const RegistryFileError& error) {
        EXPECT_EQ(error.File(), file.string());
        EXPECT_EQ(error.Line(), 3u);
    }
    EXPECT_FALSE(store.KeyExists(u"\\K"));

    // A target that cannot be written is a failure, not a silent loss.
    EXPECT_THROW(store.SaveFile(dir_ / "no such dir" / "x.txt"), std::runtime_error);
}

TEST_F(RegistryStoreFile, FilesBeyondTheSizeLimitAreRefused) {
    const std::filesystem::path file = dir_ / "huge.reg";
    std::ofstream(file, std::ios::binary) << "[\\K]\n";
    std::filesystem::resize_file(file, RegistryStore::kMaxTextSize + 1);
    RegistryStore store;
    try {
        store.LoadFile(file);
        ADD_FAILURE() << "loaded";
    } catch (const RegistryFileError& error) {
        EXPECT_EQ(error.Line(), 0u);
        EXPECT_EQ(error.Reason(), "larger than 16 MiB");
    }
    EXPECT_FALSE(store.KeyExists(u"\\K"));
}

TEST(RegistryStore, ThreadsShareOneStore) {
    RegistryStore store;
    constexpr int kThreads = 4;
    constexpr int kRounds = 300;
    std::atomic<bool> torn{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::u16string key = u"\\T\\" + std::u16string(1, static_cast<char16_t>(u'a' + t));
            for (int i = 0; i < kRounds; ++i) {
                store.PutDword(key, u"Count", static_cast<std::uint32_t>(i));
                store.PutString(u"\\Shared", u"Text", std::u16string(16, static_cast<char16_t>(u'a' + t)));
                const std::optional<RegistryValue> shared = store.GetValue(u"\\Shared", u"Text");
                if (!shared || shared->Text.size() != 16 ||
                    shared->Text.find_first_not_of(shared->Text[0]) != std::u16string::npos)
                    torn = true;
                if (i % 50 == 0 && store.ToText().find("[\\Shared]") == std::string::npos) torn = true;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_FALSE(torn);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(store.GetDword(u"\\T\\" + std::u16string(1, static_cast<char16_t>(u'a' + t)), u"Count"),
                  static_cast<std::uint32_t>(kRounds - 1));
}

// What a reader of the registry gets: the type code and the bytes as RegQueryValueExW writes
// them, so the in-process and served platforms hand KavLib the same data.
TEST(RegistryStore, ValuesTurnIntoTheBytesAQueryReturns) {
    const struct {
        const char* name;
        RegistryValue value;
        std::uint32_t type;
        std::vector<std::uint8_t> bytes;
    } kCases[] = {
        {"dword, low byte first", RegistryValue::FromDword(0x12345678), 4, {0x78, 0x56, 0x34, 0x12}},
        {"string, UTF-16LE with its null",
         RegistryValue::FromString(u"A\u00e9\u4e2d"),
         1,
         {'A', 0, 0xe9, 0, 0x2d, 0x4e, 0, 0}},
        {"empty string, the null alone", RegistryValue::FromString(u""), 1, {0, 0}},
        {"expandable string keeps its own type",
         RegistryValue::FromExpandString(u"%A%"),
         2,
         {'%', 0, 'A', 0, '%', 0, 0, 0}},
    };
    for (const auto& testCase : kCases) {
        SCOPED_TRACE(testCase.name);
        const RegistryBytes data = ToRegistryBytes(testCase.value);
        EXPECT_EQ(data.type, testCase.type);
        EXPECT_EQ(data.bytes, testCase.bytes);
    }
}

}  // namespace
}  // namespace kav::sim
