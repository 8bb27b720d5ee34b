// What the browser door checks of a request before it acts: where it comes from, its
// session cookie, and a change's body.
#pragma once
#include <string>
#include "net/HttpMessage.h"

// A request another site made the browser send: Sec-Fetch-Site other than same-origin (or
// none: typed by the user), or an Origin that is not this server's as the Host names it.
// Requests without either header (curl, scripts) are not cross-site.
bool CrossSite(const HttpRequest& request);

// Whether the body is declared JSON (Content-Type application/json, parameters allowed).
bool JsonBody(const HttpRequest& request);

// The value of cookie `name` in the Cookie header, "" when absent.
std::string CookieValue(const HttpRequest& request, const std::string& name);

// A change request's body as SCPI: "CHAN 45", or a step added to the answer of "CHAN?".
enum class Setting { Channel, Power, Output };
struct ScpiChange {
    std::string query;   // "CHAN?" or "POW?" for a step, else ""
    std::string header;  // "CHAN", "POW", "OUTP"
    double value = 0;    // the value, or the step when query is set
};
// {"channel":45} or {"step":-1}; {"dbm":8.5} or {"step":0.1}; {"on":true}. False with a
// reason for anything else: another member, another type, a number that is not finite.
bool ParseChange(Setting setting, const std::string& body, ScpiChange& change, std::string& error);
