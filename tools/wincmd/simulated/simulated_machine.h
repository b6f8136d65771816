// The simulated machine: a Windows machine on the simulated network, which
// answers every tool from the network's description; nothing is sent. With
// the network's time model on, ping waits as the real tool does.
#pragma once

#include <memory>
#include <string>

#include "machine/machine.h"
#include "simulated/network.h"

// The machine of a parsed network.
std::unique_ptr<Machine> SimulatedMachine(Network network);

// The machine of the network file at path, or of the demo network when path
// is null or empty; null with the reason when the file cannot be read.
std::unique_ptr<Machine> OpenSimulatedMachine(const char* path, std::string* error);
