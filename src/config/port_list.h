// The ports that the watched program needs: the built-in ones plus those that its
// server.conf names, so that whatever still holds them can be freed before a restart.
#pragma once

#include <set>
#include <string>

#include <rapidjson/fwd.h>

// std::string compares as unsigned bytes, so "36039" sorts before "4033".
using PortSet = std::set<std::string>;

PortSet MakeDefaultPortSet();

// How far server.conf was read.
enum class ConfigFileRead { kNoFolder, kMissing, kUnreadable, kRead };

// Adds the listening_ports and ssl_port entries of configDirectory\server.conf. A file
// that is missing, cannot be opened or does not parse adds nothing.
ConfigFileRead AddConfiguredPorts(PortSet& ports, std::string configDirectory);

// The text of a string, boolean or number; defaultText for null, objects and arrays.
std::string JsonValueToString(const rapidjson::Value& value, std::string defaultText);
