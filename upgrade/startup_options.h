#pragma once
// What start-up is told before it builds anything: the pace of the simulated unit and of the
// worker's polling. The program starts with these defaults; tests and the benchmark pass faster
// ones, so that nothing built by start-up is changed afterwards.

#include "simulator/simulator.h"

struct StartupOptions {
    simulator::Setup simulator_setup = simulator::Setup::normal;
    int no_device_delay_ms = 500;  // between listings while no unit is connected
    int connected_delay_ms = 1000; // between checks while a unit is connected
};
