#pragma once
// The new version, recorded with the maker's registration component.

struct UpdateSession;

// Tells the component (an in-process COM server installed apart from the
// product) the product's "Version" "10.5.1". 1 when it took the record; 0
// when COM or the component is missing or the call failed, which the log
// tells and the outcome does not count.
int recordProductVersion(UpdateSession& session);
