// What the browser door checks before it acts: another site's requests, the session
// cookie, and the bodies of change requests.
#include <gtest/gtest.h>
#include "web/Requests.h"

namespace {

HttpRequest Post(HttpHeaders headers)
{
    HttpRequest request;
    request.method = "POST";
    request.path = "/api/channel";
    request.headers = std::move(headers);
    return request;
}

TEST(CrossSite, AnotherSitesPageCannotSendChanges)
{
    struct Case {
        HttpHeaders headers;
        bool refused;
    };
    const Case cases[] = {
        {{{"host", "192.168.1.20"}}, false},  // curl: no Origin, no Sec-Fetch-Site
        {{{"host", "192.168.1.20"}, {"origin", "http://192.168.1.20"}}, false},
        {{{"host", "Laser:8080"}, {"origin", "http://laser:8080"}}, false},
        {{{"host", "laser:8080"}, {"origin", "https://laser:8080"}}, false},
        {{{"host", "laser"}, {"origin", "http://laser"}, {"sec-fetch-site", "same-origin"}}, false},
        {{{"host", "laser"}, {"sec-fetch-site", "none"}}, false},
        {{{"host", "laser"}, {"origin", "http://evil.example"}}, true},
        {{{"host", "laser:8080"}, {"origin", "http://laser:8081"}}, true},  // another port
        {{{"host", "laser"}, {"origin", "http://laser.evil.example"}}, true},
        {{{"host", "laser"}, {"origin", "null"}}, true},  // sandboxed frame, file: page
        {{{"origin", "http://laser"}}, true},             // no Host to compare with
        {{{"host", "laser"}, {"sec-fetch-site", "cross-site"}}, true},
        {{{"host", "laser"}, {"sec-fetch-site", "same-site"}}, true},
        {{{"host", "laser"}, {"origin", "http://laser"}, {"sec-fetch-site", "cross-site"}}, true},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& h : c.headers)
            shown += h.first + ": " + h.second + "; ";
        EXPECT_EQ(CrossSite(Post(c.headers)), c.refused) << shown;
    }
}

TEST(Requests, SessionCookieAndJsonType)
{
    HttpRequest request = Post({{"cookie", "theme=dark; zorvane_session=abc123 ;other=x=y"}});
    EXPECT_EQ(CookieValue(request, "zorvane_session"), "abc123");
    EXPECT_EQ(CookieValue(request, "other"), "x=y");
    EXPECT_EQ(CookieValue(request, "zorvane"), "");
    EXPECT_EQ(CookieValue(Post({{"cookie", "xzorvane_session=abc"}}), "zorvane_session"), "");
    EXPECT_EQ(CookieValue(Post({}), "zorvane_session"), "");

    EXPECT_TRUE(JsonBody(Post({{"content-type", "application/json"}})));
    EXPECT_TRUE(JsonBody(Post({{"content-type", "Application/JSON; charset=utf-8"}})));
    EXPECT_FALSE(JsonBody(Post({{"content-type", "text/plain"}})));  // what a form may send
    EXPECT_FALSE(JsonBody(Post({{"content-type", "application/x-www-form-urlencoded"}})));
    EXPECT_FALSE(JsonBody(Post({{"content-type", "application/jsonx"}})));
    EXPECT_FALSE(JsonBody(Post({})));
}

TEST(ParseChange, BodiesBecomeScpi)
{
    struct Case {
        Setting setting;
        const char* body;
        const char* query;
        const char* header;
        double value;
    };
    const Case good[] = {
        {Setting::Channel, R"({"channel":45})", "", "CHAN", 45},
        {Setting::Channel, R"({"channel":45.4})", "", "CHAN", 45.4},  // rounded as SCPI does
        {Setting::Channel, R"({"step":-1})", "CHAN?", "CHAN", -1},
        {Setting::Power, R"( {"dbm": 8.5} )", "", "POW", 8.5},
        {Setting::Power, R"({"dbm":-3})", "", "POW", -3},
        {Setting::Power, R"({"step":0.1})", "POW?", "POW", 0.1},
        {Setting::Output, R"({"on":true})", "", "OUTP", 1},
        {Setting::Output, R"({"on":false})", "", "OUTP", 0},
    };
    for (const Case& c : good) {
        ScpiChange change;
        std::string error;
        ASSERT_TRUE(ParseChange(c.setting, c.body, change, error)) << c.body << ": " << error;
        EXPECT_EQ(change.query, c.query) << c.body;
        EXPECT_EQ(change.header, c.header) << c.body;
        EXPECT_EQ(change.value, c.value) << c.body;
    }

    const std::pair<Setting, const char*> bad[] = {
        {Setting::Channel, ""},
        {Setting::Channel, "45"},
        {Setting::Channel, "CHAN 45"},
        {Setting::Channel, R"({"channel":"45"})"},
        {Setting::Channel, R"({"channel":null})"},
        {Setting::Channel, R"({"channel":45,"step":1})"},
        {Setting::Channel, R"({"channel":45,"extra":1})"},
        {Setting::Channel, R"({"dbm":8})"},
        {Setting::Channel, R"({"channel":1e999})"},
        {Setting::Channel, R"({"channel":[45]})"},
        {Setting::Power, R"({"dbm":true})"},
        {Setting::Power, R"({"channel":4})"},
        {Setting::Power, R"({"dbm":8.5)"},
        {Setting::Output, R"({"on":1})"},
        {Setting::Output, R"({"on":"ON"})"},
        {Setting::Output, R"({"step":1})"},
        {Setting::Output, R"({})"},
    };
    for (const auto& c : bad) {
        ScpiChange change;
        std::string error;
        EXPECT_FALSE(ParseChange(c.first, c.second, change, error)) << c.second;
        EXPECT_NE(error.find("expected"), std::string::npos) << c.second;
    }
}

}  // namespace
