// kavsim send and the usage of kavsim serve, in-process against a service of the test's own.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <sstream>

#include "kavsim_app.h"
#include "service/service_fixture.h"

namespace kav::testing {
namespace {

struct Outcome {
    int code;
    std::string out, err;
};

Outcome Kavsim(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = tools::RunKavsim(args, out, err);
    return {code, out.str(), err.str()};
}

TEST(KavsimSend, AnswersEachLineAndRefusesBadOnesAsAScenarioFileWould) {
    InProcessService service;
    const std::string port = std::to_string(service.server.Port());
    struct Case {
        std::vector<std::string> line;
        int code;
        const char* out;
        const char* err;
    };
    const Case cases[] = {
        {{"tap 200 150"}, 0, "ok\n", ""},
        {{"tap", "200", "150"}, 0, "ok\n", ""},  // unquoted words make one line
        {{"drag 10% 10% 90% 90% ms=200"}, 0, "ok\n", ""},
        {{"tap 1"}, 1, "", "kavsim send: tap takes 2 numbers, got 1\n"},
        {{"frob 1 2"},
         1,
         "",
         "kavsim send: unknown gesture 'frob' (tap, hold, drag, arc, pinch, rotate, cross, button, workmode)\n"},
        {{"set Mode 1"},
         1,
         "",
         "kavsim send: 'set' is a setting of the screens: give it in the scenario that kavsim serve starts with\n"},
        {{"tap 120% 5"}, 0, "ok\n", ""},
        {{"arc 50% 50% 10% 0 90"}, 1, "", "kavsim send: a fraction of the screen (10%) stands only for a coordinate\n"},
        {{"move 3 1 1"}, 1, "", "kavsim send: contact 3 is not down\n"},
        {{"down 11 1 1"}, 1, "", "kavsim send: contact must be a whole number from 1 to 10: '11'\n"},
        {{"unplug 7"}, 1, "", "kavsim send: no screen '7'\n"},
        {{"tap 1 1 screen=2"}, 1, "", "kavsim send: no screen '2'\n"},
        {{"add-screen"}, 0, "ok: screen 2\n", ""},
        {{"tap 1 1 screen=2"}, 0, "ok\n", ""},
        {{"-5 tap 1 1"}, 1, "", "kavsim send: the delay must lie in 0..3600000 ms\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.front());
        std::vector<std::string> args{"send", "--address", port};
        args.insert(args.end(), c.line.begin(), c.line.end());
        const Outcome o = Kavsim(args);
        EXPECT_EQ(o.code, c.code);
        EXPECT_EQ(o.out, c.out);
        EXPECT_EQ(o.err, c.err);
    }
    // The service took it all and still runs.
    EXPECT_EQ(Kavsim({"send", "--address", port, "screens"}).code, 0);
}

TEST(KavsimSend, WithoutAServiceOrALineItSaysSo) {
    EXPECT_EQ(Kavsim({"send", "--address", "1", "tap 1 1"}).err,
              "kavsim send: no service at 127.0.0.1:1 (start one with 'kavsim serve')\n");
    EXPECT_EQ(Kavsim({"send", "--address", "1", "tap 1 1"}).code, 1);
    EXPECT_EQ(Kavsim({"send"}).code, 2);
    EXPECT_EQ(Kavsim({"send", "--address", "nowhere", "tap 1 1"}).code, 2);
}

TEST(KavsimServe, RefusesBadOptionsBeforeItStarts) {
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* err;
    };
    const Case cases[] = {
        {{"serve", "--port", "65536"}, 2, "kavsim serve: the port must be 0 to 65535\n"},
        {{"serve", "--fps", "0"}, 2, "kavsim serve: fps must be 1 to 1000\n"},
        {{"serve", "--screens", "9"}, 2, "kavsim serve: screens must be 1 to 8\n"},
        {{"serve", "--port"}, 2, "kavsim serve: --port needs a value\n"},
        {{"serve", "/nonexistent/a.scn"}, 1, "kavsim serve: /nonexistent/a.scn:0: cannot open the file\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const Outcome o = Kavsim(c.args);
        EXPECT_EQ(o.code, c.code);
        EXPECT_EQ(o.err, c.err);
    }
    const Outcome help = Kavsim({"serve", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("listening on 127.0.0.1:N"), std::string::npos);
}

}  // namespace
}  // namespace kav::testing

#endif
