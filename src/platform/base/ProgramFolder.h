// Where the running program lies, and the data files found from there, so
// that the program runs from its build folder and from any install prefix.
#pragma once

#include <filesystem>

namespace orbel::platform {

// The folder that holds the running program's executable (/proc/self/exe,
// GetModuleFileNameW); empty when the system does not tell.
std::filesystem::path ProgramFolder();

// Makes ProgramFolder() answer `folder` from now on, as if the program lay
// there; an empty path returns to the real folder. For tests.
void SetProgramFolder(const std::filesystem::path& folder);

// The program's data folder as installed: the program folder followed by the
// way from the installed bin folder to the installed data folder
// (../share/orbel); empty when the program folder is unknown.
std::filesystem::path InstalledDataFolder();

// The first existing regular file of: `relative` beside the program, in the
// installed data folder, in `sourceFolder` (the source tree, for a program run
// from its build folder; empty: not looked at). Empty when none holds it.
std::filesystem::path FindDataFile(const std::filesystem::path& relative,
                                   const std::filesystem::path& sourceFolder);

}  // namespace orbel::platform
