#include "beepservice/nerio_svc_app.h"

#include <gtest/gtest.h>

#include <set>

#include "fakes.h"

namespace kav::beep::test {
namespace {

// Mutexes live in a set shared by the hosts of one test, as in one logon session.
class FakeHost : public AppHost {
public:
    explicit FakeHost(std::set<std::u16string>& mutexes) : mutexes_(mutexes) {}
    std::vector<std::string> calls;

    void InitCommonControls() override { calls.push_back("common controls"); }
    void SetRegistryKey(std::u16string_view name) override { registryKey = name; }
    bool CreateInstanceMutex(std::u16string_view name) override {
        calls.push_back("mutex " + Narrow(name));
        return mutexes_.insert(std::u16string(name)).second;
    }
    void BringToFront(std::u16string_view title) override { calls.push_back("front " + Narrow(title)); }
    void RunMainDialog() override { calls.push_back("dialog"); }

    std::u16string registryKey;

private:
    std::set<std::u16string>& mutexes_;
};

TEST(NerioSvcApp, SecondInstanceBringsTheFirstForwardAndEnds) {
    std::set<std::u16string> session;
    FakeHost first(session), second(session);
    CNerioSvcApp app;
    EXPECT_TRUE(app.InitInstance(first));
    EXPECT_FALSE(app.InitInstance(second));
    EXPECT_EQ(first.calls, (std::vector<std::string>{"common controls", "mutex KavSvc", "dialog"}));
    EXPECT_EQ(second.calls, (std::vector<std::string>{"common controls", "mutex KavSvc", "front KavSvc"}));
    EXPECT_EQ(first.registryKey, u"应用程序向导生成的本地应用程序");
}

}  // namespace
}  // namespace kav::beep::test
