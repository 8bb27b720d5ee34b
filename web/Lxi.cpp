#include "web/Lxi.h"

namespace {

std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Element(const char* name, const std::string& text)
{
    return std::string("  <") + name + ">" + Escaped(text) + "</" + name + ">\n";
}

}  // namespace

const char* DoorName(DoorKind kind)
{
    switch (kind) {
    case DoorKind::ScpiSocket: return "SCPI socket";
    case DoorKind::Vxi11: return "VXI-11";
    default: return "HTTP";
    }
}

std::string LxiIdentification(const std::string& idn, const std::string& host,
                              const std::vector<DoorFacts>& doors)
{
    std::string fields[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t comma = i < 3 ? idn.find(',', start) : std::string::npos;
        fields[i] =
            idn.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? idn.size() : comma + 1;
    }
    std::string web = "http://" + host;
    std::string addresses;
    for (const DoorFacts& door : doors) {
        if (door.kind == DoorKind::Http && door.port != 80)
            web += ":" + std::to_string(door.port);
        if (door.kind == DoorKind::ScpiSocket)
            addresses += "    <InstrumentAddressString>" +
                         Escaped("TCPIP::" + host + "::" + std::to_string(door.port) + "::SOCKET") +
                         "</InstrumentAddressString>\n";
        if (door.kind == DoorKind::Vxi11)
            addresses += "    <InstrumentAddressString>" +
                         Escaped("TCPIP::" + host + "::inst0::INSTR") +
                         "</InstrumentAddressString>\n";
    }
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\""
                      " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
    xml += Element("Manufacturer", fields[0]);
    xml += Element("Model", fields[1]);
    xml += Element("SerialNumber", fields[2]);
    xml += Element("FirmwareRevision", fields[3]);
    xml += Element("ManufacturerDescription", fields[1] + " on serial port " + fields[2]);
    xml += Element("HomepageURL", web + "/");
    xml += Element("DriverURL", web + "/");
    xml += Element("IdentificationURL", web + "/lxi/identification");
    xml += "  <Interface xsi:type=\"NetworkInformation\" InterfaceType=\"LXI\" IPType=\"IPv4\""
           " InterfaceName=\"eth0\">\n" +
           addresses + "    <Hostname>" + Escaped(host) + "</Hostname>\n    <IPAddress>" +
           Escaped(host) + "</IPAddress>\n";
    for (const DoorFacts& door : doors) {
        xml += "    <Port Name=\"" + std::string(DoorName(door.kind)) + "\">" +
               std::to_string(door.port) + "</Port>\n";
    }
    xml += "  </Interface>\n";
    xml += Element("LXIVersion", "1.5");
    return xml + "</LXIDevice>\n";
}
