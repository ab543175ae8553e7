#include "controlpanel/language.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "fakes.h"

namespace kav::cpl::test {
namespace {

TEST(LanguageText, LooksUpTheSystemLanguageThenFallsBackTo1033) {
    using Files = std::map<std::uint16_t, std::map<std::string, std::string>>;
    struct Case {
        const char* name;
        std::uint16_t langId;
        Files files;
        std::string key;
        std::string text;
    };
    const Case cases[] = {
        {"own file has the key", 2052, {{2052, {{"3", "zh"}}}, {1033, {{"3", "en"}}}}, "3", "zh"},
        {"own file missing", 2052, {{1033, {{"3", "Calibrate"}}}}, "3", "Calibrate"},
        {"own file lacks the key: no fallback", 2052, {{2052, {}}, {1033, {{"3", "en"}}}}, "3", "3"},
        {"1033 without key 50", 1033, {{1033, {{"48", "OK"}}}}, "50", "50"},
        {"no file at all", 2052, {}, "1", ""},
        {"another language's file is not used", 1031, {{2052, {{"1", "zh"}}}}, "1", ""},
        {"an empty text stays empty", 1033, {{1033, {{"82", ""}}}}, "82", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSystem system;
        system.langId = c.langId;
        for (const auto& [id, entries] : c.files) system.files[system.LanguageFile(id)] = entries;
        EXPECT_EQ(GetLanguageText(system, c.key), c.text);
    }
}

TEST(LanguageText, EveryLookupReadsTheFileAgain) {
    FakeSystem system;
    system.files[system.LanguageFile(1033)] = {{"1", "Before"}};
    EXPECT_EQ(GetLanguageText(system, "1"), "Before");
    system.files[system.LanguageFile(1033)]["1"] = "After";
    EXPECT_EQ(GetLanguageText(system, "1"), "After");
    EXPECT_EQ(system.profileReads, 2);
}

// The delivered files: section [Language], every key once, nothing else.
std::map<std::string, std::string> ReadLanguageFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    std::map<std::string, std::string> entries;
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[') {
            section = line;
            continue;
        }
        const std::size_t equals = line.find('=');
        EXPECT_NE(equals, std::string::npos) << line;
        EXPECT_EQ(section, "[Language]") << line;
        const std::string key = line.substr(0, equals);
        EXPECT_TRUE(entries.emplace(key, line.substr(equals + 1)).second) << "key " << key << " twice in " << path;
    }
    return entries;
}

TEST(LanguageFiles, HoldEveryKeyAndTheTemplateTexts) {
    const std::set<std::string> expected(AllLanguageKeys().begin(), AllLanguageKeys().end());
    for (const char* file : {"1033.ini", "2052.utf8.ini"}) {
        SCOPED_TRACE(file);
        std::set<std::string> keys;
        for (const auto& [key, text] : ReadLanguageFile(std::string(KAV_CPL_LANGUAGE_DIR) + "/" + file)) {
            keys.insert(key);
            EXPECT_FALSE(text.empty()) << "key " << key;
            EXPECT_LE(text.size(), 1023u) << "key " << key;
        }
        EXPECT_EQ(keys, expected);
    }
    const auto english = ReadLanguageFile(std::string(KAV_CPL_LANGUAGE_DIR) + "/1033.ini");
    const std::pair<const char*, const char*> templateTexts[] = {
        {"1", "TouchScreen Control Panel"},
        {"4", "Region Calibrate"},
        {"18", "*You have installed several touchscreens on the pc and status is set \"multi-screens display\"."},
        {"46", " Duration"},
        {"50", "Apply"},
        {"84", "1.0.0.0000"},
    };
    for (const auto& [key, text] : templateTexts) EXPECT_EQ(english.at(key), text) << "key " << key;
}

}  // namespace
}  // namespace kav::cpl::test
