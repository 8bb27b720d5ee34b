// The LXI identification document of GET /lxi/identification.
#pragma once
#include <string>
#include <vector>
#include "web/ServerFacts.h"

// idn: the instrument's *IDN? reply (manufacturer, model, serial number, firmware revision,
// comma-separated); host: the address the client reached the server at.
std::string LxiIdentification(const std::string& idn, const std::string& host,
                              const std::vector<DoorFacts>& doors);
