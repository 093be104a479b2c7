#pragma once
// The cleanup run's work on the product's merge modules: the modules named in
// the staged "msm.ini" receive the new files, and the two main modules the
// update's revision. Each returns 1; the driver does not look at it.
#include <string>

struct UpdateSession;

int patchMergeModules(UpdateSession& session);
int patchMergeModule(UpdateSession& session, const std::string& moduleFileName,
                     const std::string& extractDir, const std::string& moduleList);
int stampModuleRevision(UpdateSession& session);
