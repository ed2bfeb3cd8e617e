// A ready demonstration site: one base "Base 01" with two active stations, its
// configuration files in the suite's Windows form (mapped under the program
// folder's drives/c/), and the companion files the component check looks for.
#pragma once
#include <string>

namespace sono {

// False (with `error` set) when a site is already there or a file cannot be
// written; an existing site is never touched.
bool CreateDemoSite(const std::string& programFolder, std::string& error);

}  // namespace sono
