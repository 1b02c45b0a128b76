// SPDX-License-Identifier: MIT
#include "backends/DriverFactory.h"

#include "backends/BackendChoice.h"
#include "backends/Diagnostics.h"
#include "backends/NoBoxDriver.h"

#include <cstdlib>
#include <iostream>
#include <string>

namespace telmar::backends {

namespace {

std::unique_ptr<usb::Driver> make(const BackendEntry* chosen, std::ostream& err) {
    if (chosen == nullptr) {
        return nullptr;
    }
    const BackendEntry& entry = *chosen;
    if (entry.make == nullptr) {
        // Treated as an empty bus rather than a quiet switch to real USB, so a user who
        // asked for the simulated box never writes to a real one by accident.
        err << kBackendVariable << ": the backend \"" << entry.name
            << "\" is not part of this build; no box will be found" << std::endl;
        return withDiagnostics(std::make_unique<NoBoxDriver>(), entry.name, err);
    }
    return withDiagnostics(entry.make(err), entry.name, err);
}

} // namespace

std::unique_ptr<usb::Driver> createDriver() {
    return make(chooseBackend(std::getenv(kBackendVariable), std::cerr), std::cerr);
}

std::string backendVariableProblem() {
    const char* value = std::getenv(kBackendVariable);
    const std::string problem = backendNameProblem(value);
    return problem.empty() ? problem : std::string(kBackendVariable) + ": " + problem;
}

std::unique_ptr<usb::Driver> createDriver(std::string_view backendName, std::ostream& err) {
    const std::string name(backendName);
    return make(chooseBackend(name.c_str(), err), err);
}

} // namespace telmar::backends
