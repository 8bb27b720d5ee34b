#include "web/WebPanel.h"
#include <nlohmann/json.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "protocol/DeviceFrame.h"
#include "protocol/ValueFormat.h"
#include "scpi/ScpiSession.h"
#include "web/Lxi.h"
#include "web/PageAssets.h"

namespace {

using Json = nlohmann::json;

constexpr const char* READ_ONLY =
    "read-only: the server was started without a password for the browser door";
constexpr int64_t FACTS_MS = 100;  // the server's facts (lock, clients) shown that soon
constexpr int64_t CHECK_MS = 1000;
constexpr int64_t SILENT_CHECK_MS = 5000;  // a silent module holds every door for its retries

std::string Dump(const Json& json)
{
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

HttpReply JsonReply(int status, const Json& body, HttpHeaders headers = {})
{
    return {status, "application/json", Dump(body), std::move(headers)};
}

HttpReply Error(int status, const std::string& message, HttpHeaders headers = {})
{
    return JsonReply(status, {{"error", message}}, std::move(headers));
}

// A value as the window shows it, as a JSON number: "8.50" is 8.5; "----" is null.
Json Number(const std::string& shown)
{
    char* end = nullptr;
    const double value = std::strtod(shown.c_str(), &end);
    return end != shown.c_str() && *end == '\0' ? Json(value) : Json();
}

std::string RetryAfter(int64_t ms)
{
    return std::to_string((ms + 999) / 1000);
}

}  // namespace

WebPanel::WebPanel(Instrument& instrument, Clock& clock, ServerFacts& facts, Auth& auth)
    : instrument(instrument), clock(clock), facts(facts), auth(auth), seenState(instrument.State()),
      seenCondition(instrument.Condition())
{
    instrument.Observe([this](const std::string& by) { Changed(by); });
}

WebPanel::~WebPanel()
{
    instrument.Observe(nullptr);
}

std::vector<HttpRoute> WebPanel::Routes()
{
    auto file = [](std::string_view body, const char* type) {
        return [body, type](const HttpRequest&) {
            return HttpReply{200, type, std::string(body), {}};
        };
    };
    auto call = [this](HttpReply (WebPanel::*handler)(const HttpRequest&)) {
        return [this, handler](const HttpRequest& request) { return (this->*handler)(request); };
    };
    auto change = [this](Setting setting) {
        return [this, setting](const HttpRequest& request) { return SetValue(request, setting); };
    };
    return {
        {"/", {"GET"}, file(PAGE_INDEX_HTML, "text/html; charset=utf-8")},
        {"/app.css", {"GET"}, file(PAGE_APP_CSS, "text/css; charset=utf-8")},
        {"/app.js", {"GET"}, file(PAGE_APP_JS, "text/javascript; charset=utf-8")},
        {"/favicon.svg", {"GET"}, file(PAGE_FAVICON_SVG, "image/svg+xml")},
        {"/lxi/identification", {"GET"}, call(&WebPanel::Identification)},
        {"/api/state", {"GET"}, call(&WebPanel::State)},
        // In its turn, so that the upkeep that follows finds a page watching.
        {"/api/events", {"GET"}, call(&WebPanel::Events), true, true},
        {"/api/login", {"POST"}, call(&WebPanel::LogIn)},
        {"/api/logout", {"POST"}, call(&WebPanel::LogOut)},
        {"/api/channel", {"POST"}, change(Setting::Channel), true},
        {"/api/power", {"POST"}, change(Setting::Power), true},
        {"/api/output", {"POST"}, change(Setting::Output), true},
    };
}

void WebPanel::OnChange(std::function<void(const std::string& json)> publish)
{
    this->publish = std::move(publish);
}

void WebPanel::Refresh()
{
    if (Facts() != publishedFacts)
        Publish();
}

int64_t WebPanel::Watch(bool viewers)
{
    if (!viewers)
        return CHECK_MS;
    Refresh();  // the lock and the doors' clients change without an exchange
    if (clock.NowMs() >= nextCheckMs) {
        static const uint8_t codes[] = {CMD_CHANNEL, CMD_POWER, CMD_OUTPUT};
        instrument.Query(codes[checked]);
        checked = (checked + 1) % 3;
        const bool silent = instrument.Condition() == ModuleCondition::Silent;
        nextCheckMs = clock.NowMs() + (silent ? SILENT_CHECK_MS : CHECK_MS);
    }
    return std::min(FACTS_MS, nextCheckMs - clock.NowMs());
}

void WebPanel::Changed(const std::string& by)
{
    nextCheckMs = std::max(nextCheckMs, clock.NowMs() + CHECK_MS);  // it was just asked
    const int64_t now = clock.WallMs();
    const ModuleCondition condition = instrument.Condition();
    bool changed = condition != seenCondition;
    if (changed)
        changes.Add({now, ConditionChange(condition), "module"});
    for (std::string& what : Differences(seenState, instrument.State())) {
        changes.Add({now, std::move(what), by});
        changed = true;
    }
    seenState = instrument.State();
    seenCondition = condition;
    if (changed)
        Publish();
}

void WebPanel::Publish()
{
    publishedFacts = Facts();
    if (publish)
        publish(Snapshot());
}

std::string WebPanel::Facts()
{
    Json doors = Json::array();
    for (const DoorFacts& door : facts.Doors())
        doors.push_back(
            {{"door", DoorName(door.kind)}, {"port", door.port}, {"clients", door.clients}});
    const std::string holder = facts.LockHolder();
    return Dump({{"doors", doors}, {"lock", holder.empty() ? Json() : Json(holder)}});
}

std::string WebPanel::Snapshot()
{
    const DeviceStateRecord& state = instrument.State();
    char wavelength[32];
    FormatWavelength(state.wavelength, wavelength, sizeof wavelength);
    Json json = Json::parse(Facts());
    json["port"] = instrument.PortName();
    json["condition"] = ConditionName(instrument.Condition());
    json["channel"] = state.channel;
    json["frequency_ghz"] = state.frequency;
    json["wavelength_nm"] = Number(wavelength);
    json["label"] = std::string(state.ituLabel, strnlen(state.ituLabel, sizeof state.ituLabel));
    json["power_dbm"] = Number(PowerText(state.power));
    json["output"] = state.outputOn != 0;
    json["channels"] = state.channelCount;
    json["power_min_dbm"] = Number(PowerText(state.powerMin));
    json["power_max_dbm"] = Number(PowerText(state.powerMax));
    json["first_frequency_ghz"] = state.firstFrequency;
    json["grid_ghz"] = state.grid;
    Json list = Json::array();
    for (const Change& change : changes.Entries())
        list.push_back({{"time_ms", change.wallMs}, {"what", change.what}, {"by", change.by}});
    json["changes"] = list;
    return Dump(json);
}

std::string WebPanel::Access(const HttpRequest& request)
{
    if (!auth.ControlAllowed())
        return "read-only";
    return auth.Valid(CookieValue(request, COOKIE)) ? "session" : "password";
}

HttpReply WebPanel::State(const HttpRequest& request)
{
    Json json = Json::parse(Snapshot());
    json["access"] = Access(request);
    return JsonReply(200, json);
}

HttpReply WebPanel::Events(const HttpRequest&)
{
    return {200, "text/event-stream", Snapshot(), {}};
}

HttpReply WebPanel::Identification(const HttpRequest& request)
{
    ScpiSession scpi(instrument);
    std::string idn = scpi.Execute("*IDN?");
    if (!idn.empty())
        idn.pop_back();  // its LF
    return {
        200, "text/xml; charset=utf-8", LxiIdentification(idn, request.local, facts.Doors()), {}};
}

bool WebPanel::MayPost(const HttpRequest& request, HttpReply& refusal)
{
    if (CrossSite(request)) {
        refusal = Error(403, "refused: the request comes from another site");
        return false;
    }
    if (!auth.ControlAllowed()) {
        refusal = Error(403, READ_ONLY);
        return false;
    }
    return true;
}

HttpReply WebPanel::LogIn(const HttpRequest& request)
{
    HttpReply refusal;
    if (!MayPost(request, refusal))
        return refusal;
    const Json body = Json::parse(request.body, nullptr, false);
    if (!JsonBody(request) || !body.is_object() || !body.contains("password") ||
        !body["password"].is_string())
        return Error(400, "expected {\"password\":\"...\"} as application/json");
    const Auth::Login login = auth.TryLogin(request.peer, body["password"].get<std::string>());
    switch (login.outcome) {
    case Auth::Outcome::Opened:
        return JsonReply(200, {{"access", "session"}},
                         {{"Set-Cookie", std::string(COOKIE) + "=" + login.token +
                                             "; Path=/; HttpOnly; SameSite=Strict"}});
    case Auth::Outcome::Wrong:
        if (login.retryAfterMs > 0) {
            return Error(401,
                         "wrong password; the next try in " + RetryAfter(login.retryAfterMs) + " s",
                         {{"Retry-After", RetryAfter(login.retryAfterMs)}});
        }
        return Error(401, "wrong password");
    case Auth::Outcome::Throttled:
        return Error(
            429, "too many wrong passwords; try again in " + RetryAfter(login.retryAfterMs) + " s",
            {{"Retry-After", RetryAfter(login.retryAfterMs)}});
    case Auth::Outcome::NoControl: return Error(403, READ_ONLY);
    default: return Error(500, "no random bytes for a session key");
    }
}

HttpReply WebPanel::LogOut(const HttpRequest& request)
{
    HttpReply refusal;
    if (!MayPost(request, refusal))
        return refusal;
    auth.Logout(CookieValue(request, COOKIE));
    return JsonReply(
        200, {{"access", "password"}},
        {{"Set-Cookie", std::string(COOKIE) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0"}});
}

HttpReply WebPanel::SetValue(const HttpRequest& request, Setting setting)
{
    HttpReply refusal;
    if (!MayPost(request, refusal))
        return refusal;
    if (!auth.Valid(CookieValue(request, COOKIE)))
        return Error(401, "log in first: the request carries no open session");
    const std::string holder = facts.LockHolder();
    if (!holder.empty())
        return Error(423, "locked by " + holder);
    ScpiChange change;
    std::string error;
    if (!JsonBody(request))
        return Error(415, "send the body as application/json");
    if (!ParseChange(setting, request.body, change, error))
        return Error(400, error);

    ScpiSession scpi(instrument, "HTTP " + request.peer);
    double value = change.value;
    if (!change.query.empty()) {
        const std::string answer = scpi.Execute(change.query);
        if (answer.empty())
            return Refused(scpi.Execute("SYST:ERR?"), setting, value);
        value += std::strtod(answer.c_str(), nullptr);
    }
    char number[40];
    std::snprintf(number, sizeof number, "%.17g", value);
    scpi.Execute(change.header + " " + number);
    const std::string outcome = scpi.Execute("SYST:ERR?");
    if (std::atoi(outcome.c_str()) != 0)
        return Refused(outcome, setting, value);
    Json json = Json::parse(Snapshot());
    json["access"] = "session";
    return JsonReply(200, json);
}

HttpReply WebPanel::Refused(const std::string& error, Setting setting, double value)
{
    // error: -222,"Data out of range" or -200,"Execution error; channel 45 sent; ..."
    const int code = std::atoi(error.c_str());
    const size_t open = error.find('"');
    std::string text = error.substr(open + 1, error.rfind('"') - open - 1);
    const DeviceStateRecord& state = instrument.State();
    char message[160];
    switch (code) {
    case SCPI_OUT_OF_RANGE:
        if (setting == Setting::Channel)
            std::snprintf(message, sizeof message, "channel %g is outside 1 to %d", value,
                          state.channelCount);
        else
            std::snprintf(message, sizeof message, "power %.2f dBm is outside %s to %s dBm", value,
                          PowerText(state.powerMin).c_str(), PowerText(state.powerMax).c_str());
        return Error(422, message);
    case SCPI_HARDWARE_MISSING:
        return Error(503, std::string("the module does not answer (") +
                              ConditionName(instrument.Condition()) + ")");
    case SCPI_EXECUTION:
        return Error(502,
                     text.substr(text.find("; ") == std::string::npos ? 0 : text.find("; ") + 2));
    default: return Error(400, text);
    }
}
