// The single-instance guard of the program: a named lock held while the program runs.
#pragma once

#include <filesystem>
#include <string>

namespace qmt {

// The file of FOLDER that holds the named lock. Scripts that empty a working folder take the
// same lock on it first, so that nothing is removed under a running program.
std::filesystem::path gf_instanceLockPath(const std::string& NAME, const std::filesystem::path& FOLDER);
// Takes the named lock, kept in a file of the folder; false when another process holds it or
// the file cannot be opened, with the reason in WHY when given.
// The lock is released when the process ends or gf_releaseInstanceGuard is called.
bool gf_acquireInstanceGuard(const std::string& NAME, const std::filesystem::path& FOLDER,
                             std::string* WHY = nullptr);
void gf_releaseInstanceGuard();

}  // namespace qmt
