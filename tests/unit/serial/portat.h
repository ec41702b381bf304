#pragma once
// A port known by its path (and by-id name) alone, for the port-list tests.
#include "link/portdiscovery.h"

#include <string>
#include <utility>

inline mb::port::PortInfo portAt(std::string path, std::string byId = {}) {
    mb::port::PortInfo p;
    p.path = std::move(path);
    p.byId = std::move(byId);
    return p;
}
