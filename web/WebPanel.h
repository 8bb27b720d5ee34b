// The browser door's side of the laser: the page, the module's state as JSON and its stream
// of changes, the change requests with their session checks, and the LXI identification.
// The HTTP door carries the routes; this knows nothing of sockets.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include "link/Instrument.h"
#include "net/HttpMessage.h"
#include "web/Auth.h"
#include "web/ChangeLog.h"
#include "web/Requests.h"
#include "web/ServerFacts.h"

class WebPanel {
public:
    // Observes the instrument from now on (one panel per instrument).
    WebPanel(Instrument& instrument, Clock& clock, ServerFacts& facts, Auth& auth);
    ~WebPanel();
    WebPanel(const WebPanel&) = delete;
    WebPanel& operator=(const WebPanel&) = delete;

    std::vector<HttpRoute> Routes();

    // Where a snapshot goes (the event streams) each time anything it shows has changed.
    void OnChange(std::function<void(const std::string& json)> publish);
    // While someone looks (viewers): publishes what changed in the server's facts (the lock,
    // the doors' clients) since the last snapshot, and asks the module one of its values
    // (channel, power, output in turn) when it has not been asked anything for a second,
    // so that what it does by itself, its silence and a lost port show; every 5 s while it
    // is silent, as each try then waits. Returns the ms until it wants to be called again.
    int64_t Watch(bool viewers);

    // The state as /api/state gives it, without the caller's access.
    std::string Snapshot();

    static constexpr const char* COOKIE = "zorvane_session";

private:
    HttpReply State(const HttpRequest& request);
    HttpReply Events(const HttpRequest& request);
    HttpReply Identification(const HttpRequest& request);
    HttpReply LogIn(const HttpRequest& request);
    HttpReply LogOut(const HttpRequest& request);
    HttpReply SetChannel(const HttpRequest& request);
    HttpReply SetPower(const HttpRequest& request);
    HttpReply SetOutput(const HttpRequest& request);

    void Changed(const std::string& by);
    void Refresh();
    void Publish();
    std::string Facts();
    std::string Access(const HttpRequest& request);
    HttpReply SetValue(const HttpRequest& request, Setting setting);
    // The checks every POST passes before its body is read; false with the refusal.
    bool MayPost(const HttpRequest& request, HttpReply& refusal);
    // Why the module refused a change, as the first SCPI error of the line tells it.
    HttpReply Refused(const std::string& error, Setting setting, double value);

    Instrument& instrument;
    Clock& clock;
    ServerFacts& facts;
    Auth& auth;
    ChangeLog changes;
    DeviceStateRecord seenState;
    ModuleCondition seenCondition;
    std::string publishedFacts;
    std::function<void(const std::string&)> publish;
    int checked = 0;
    int64_t nextCheckMs = 0;
};
