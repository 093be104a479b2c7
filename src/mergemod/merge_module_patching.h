#pragma once
// The cleanup run's work on the product's merge modules: the modules named in
// the staged "msm.ini" receive the new files, and the two main modules the
// update's revision, unless this run could not patch them. Each action goes to
// the run's outcome.
#include <string>

struct UpdateSession;

// Always 1.
int patchMergeModules(UpdateSession& session);
// 1 when every named file was replaced and the module stored.
int patchMergeModule(UpdateSession& session, const std::string& moduleFileName, const std::string& extractDir,
                     const std::string& moduleList);
// Always 1.
int stampModuleRevision(UpdateSession& session);
