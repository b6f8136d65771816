// The one place that chooses the machine. The live machine is built into
// wincmd on the systems that have it (WINCMD_LIVE); the stand-in tools built
// as Windows programs have the simulated one alone.
#include "machine/machine.h"
#include "simulated/simulated_machine.h"
#ifdef WINCMD_LIVE
#include "live/machine/live_machine.h"
#endif

std::unique_ptr<Machine> OpenMachine(const char* network, [[maybe_unused]] MachineNeeds needs,
                                     [[maybe_unused]] FILE* errors, std::string* error) {
#ifdef WINCMD_LIVE
    if (IsLiveNetworkName(network)) return OpenLiveMachine(needs, errors, error);
#endif
    return OpenSimulatedMachine(network, error);
}
