#include "controlpanel/cursor_hiding.h"

#include <gtest/gtest.h>

#include <map>

#include "controlpanel/resource.h"

namespace kav::cpl::test {
namespace {

using Values = std::map<std::string, RegistryValue>;

// HKEY_CURRENT_USER in memory; the calls the system would see, in order.
class FakeCursorSystem : public CursorSystem {
public:
    std::map<std::string, Values> keys;
    std::vector<std::string> calls;

    class Key : public RegistryKey {
    public:
        explicit Key(Values& values) : values_(values) {}
        std::optional<RegistryValue> Query(const std::string& name) override {
            const auto found = values_.find(name);
            if (found == values_.end()) return std::nullopt;
            return found->second;
        }
        bool Set(const std::string& name, const RegistryValue& value) override {
            values_[name] = value;
            return true;
        }
        bool Delete(const std::string& name) override { return values_.erase(name) != 0; }

    private:
        Values& values_;
    };

    std::unique_ptr<RegistryKey> OpenUserKey(const std::string& subkey) override {
        const auto found = keys.find(subkey);
        if (found == keys.end()) return nullptr;
        return std::make_unique<Key>(found->second);
    }
    std::unique_ptr<RegistryKey> CreateUserKey(const std::string& subkey) override {
        return std::make_unique<Key>(keys[subkey]);
    }
    bool InstallNormalCursor(int resourceId) override {
        calls.push_back("SetSystemCursor " + std::to_string(resourceId));
        return true;
    }
    bool ReloadSystemCursors() override {
        calls.push_back("SPI_SETCURSORS");
        return false;  // as Wine answers
    }

    Values& cursors() { return keys[kCursorsKey]; }
};

RegistryValue Sz(const std::string& text, std::uint32_t type = kRegExpandSz) {
    return {type, text + std::string(1, '\0')};
}

void ExpectEveryRole(FakeCursorSystem& system, const RegistryValue& value) {
    for (std::string_view role : kCursorRoles) {
        SCOPED_TRACE(role);
        EXPECT_EQ(system.cursors().at(std::string(role)), value);
    }
}

TEST(CursorHiding, HideThenShowWritesTheFifteenRoles) {
    FakeCursorSystem system;
    system.cursors();  // the key exists, no value in it

    ApplyCursorState(system, true);
    EXPECT_EQ(system.cursors().size(), 15u);
    ExpectEveryRole(system, HiddenCursorValue());
    EXPECT_EQ(HiddenCursorValue().data.size(), 30u);
    EXPECT_EQ(system.calls, (std::vector<std::string>{"SetSystemCursor 145", "SPI_SETCURSORS", "SPI_SETCURSORS"}));

    system.calls.clear();
    ApplyCursorState(system, false);
    ExpectEveryRole(system, RegistryValue{kRegExpandSz, ""});
    EXPECT_EQ(system.calls, (std::vector<std::string>{"SetSystemCursor 144", "SPI_SETCURSORS", "SPI_SETCURSORS"}));
    EXPECT_TRUE(system.keys[kSavedCursorsKey].empty());
}

TEST(CursorHiding, ShowPutsBackTheSchemeTheUserHadBeforeHiding) {
    FakeCursorSystem system;
    system.cursors() = {{"Arrow", Sz("C:\\Cursors\\big_arrow.cur")},
                        {"Wait", Sz("%SystemRoot%\\Cursors\\busy.ani", kRegSz)},
                        {"Hand", RegistryValue{kRegExpandSz, ""}}};
    const Values before = system.cursors();

    ApplyCursorState(system, true);
    ApplyCursorState(system, true);  // a second OK with Hide Cursor still set
    ExpectEveryRole(system, HiddenCursorValue());

    ApplyCursorState(system, false);
    EXPECT_EQ(system.cursors().at("Arrow"), before.at("Arrow"));
    EXPECT_EQ(system.cursors().at("Wait"), before.at("Wait"));
    EXPECT_EQ(system.cursors().at("Hand"), RegistryValue(kRegExpandSz, ""));
    EXPECT_EQ(system.cursors().at("IBeam"), RegistryValue(kRegExpandSz, ""));
}

TEST(CursorHiding, ShowKeepsRolesTheUserSetThemselves) {
    FakeCursorSystem system;
    system.cursors() = {{"Arrow", Sz("C:\\Cursors\\mine.cur")}};
    ApplyCursorState(system, false);  // OK with Hide Cursor cleared, never hidden
    EXPECT_EQ(system.cursors().at("Arrow"), Sz("C:\\Cursors\\mine.cur"));
    EXPECT_EQ(system.cursors().at("UpArrow"), RegistryValue(kRegExpandSz, ""));

    ApplyCursorState(system, true);
    system.cursors()["Arrow"] = Sz("C:\\Cursors\\chosen_while_hidden.cur");
    ApplyCursorState(system, false);
    EXPECT_EQ(system.cursors().at("Arrow"), Sz("C:\\Cursors\\chosen_while_hidden.cur"));
}

TEST(CursorHiding, AMissingCursorsKeyIsLeftAloneAndTheCursorIsStillSet) {
    FakeCursorSystem system;
    ApplyCursorState(system, true);
    ApplyCursorState(system, false);
    EXPECT_EQ(system.keys.count(kCursorsKey), 0u);
    EXPECT_EQ(system.calls.size(), 6u);
}

}  // namespace
}  // namespace kav::cpl::test
