// The program's shortcuts in every user profile, named in each user's language.
#pragma once

#include <string>

#include "AdmDispatch.h"

namespace zv::adm {

// Saves a shell link folder\name.lnk (folders made as needed; "%20" in the
// target read as a space) and returns its path, also when the save failed.
// When it cannot be saved under its own name and `alternateName` is given,
// it is saved under that name and moved over its own. Empty when the shell
// link object is not available.
std::string CreateShortcut(const std::string& folder, const std::string& name, const std::string& target,
                           const std::string& arguments, const std::string& workingFolder,
                           const std::string& description, int iconIndex, const std::string& alternateName);

int32_t JobCreateUserShortcuts(const TJobArgs& job, const THelperState& state);

}  // namespace zv::adm
