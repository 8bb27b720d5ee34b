#include "web/Requests.h"
#include <nlohmann/json.hpp>
#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool CrossSite(const HttpRequest& request)
{
    const std::string site = Lower(request.Header("sec-fetch-site"));
    if (!site.empty() && site != "same-origin" && site != "none")
        return true;
    const std::string origin = Lower(request.Header("origin"));
    if (origin.empty())
        return false;
    const std::string host = Lower(request.Header("host"));
    return host.empty() || (origin != "http://" + host && origin != "https://" + host);
}

bool JsonBody(const HttpRequest& request)
{
    const std::string type = Lower(request.Header("content-type"));
    return Trimmed(type.substr(0, type.find(';'))) == "application/json";
}

std::string CookieValue(const HttpRequest& request, const std::string& name)
{
    const std::string cookies = request.Header("cookie");
    size_t start = 0;
    while (start < cookies.size()) {
        size_t end = cookies.find(';', start);
        if (end == std::string::npos)
            end = cookies.size();
        const std::string pair = Trimmed(cookies.substr(start, end - start));
        const size_t equals = pair.find('=');
        if (equals != std::string::npos && pair.substr(0, equals) == name)
            return pair.substr(equals + 1);
        start = end + 1;
    }
    return "";
}

bool ParseChange(Setting setting, const std::string& body, ScpiChange& change, std::string& error)
{
    const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
    const char* name = setting == Setting::Channel ? "channel"
                       : setting == Setting::Power ? "dbm"
                                                   : "on";
    const bool steps = setting != Setting::Output;
    const std::string usage = setting == Setting::Output
                                  ? "{\"on\":true}"
                                  : std::string("{\"") + name + "\":N} or {\"step\":N}";
    if (!json.is_object() || json.size() != 1 ||
        (!json.contains(name) && !(steps && json.contains("step")))) {
        error = "expected " + usage;
        return false;
    }
    const bool step = !json.contains(name);
    const nlohmann::json& value = step ? json["step"] : json[name];
    change.header = setting == Setting::Channel ? "CHAN"
                    : setting == Setting::Power ? "POW"
                                                : "OUTP";
    change.query = step ? change.header + "?" : "";
    if (setting == Setting::Output) {
        if (!value.is_boolean()) {
            error = "expected " + usage;
            return false;
        }
        change.value = value.get<bool>() ? 1 : 0;
        return true;
    }
    if (!value.is_number() || !std::isfinite(value.get<double>())) {
        error = "expected " + usage + " with a finite number";
        return false;
    }
    change.value = value.get<double>();
    return true;
}
