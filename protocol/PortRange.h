// The COM ports the window lists and the tool probes: COM1 to COM254.
#pragma once

constexpr int MAX_PROBED_PORT = 254;
