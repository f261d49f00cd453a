// The single-instance guard of the program: a named lock held while the program runs.
#pragma once

#include <filesystem>
#include <string>

namespace qmt {

// Takes the named lock, kept in a file of the folder; false when another process holds it.
// The lock is released when the process ends or gf_releaseInstanceGuard is called.
bool gf_acquireInstanceGuard(const std::string& NAME, const std::filesystem::path& FOLDER);
void gf_releaseInstanceGuard();

}  // namespace qmt
