#pragma once

struct UpdateSession;

// The whole behaviour of one start: fills the session, checks the product and
// runs the install or the cleanup sequence. Always 1; session.exitCode is the
// run's exit code (outcome.h).
int runUpdate(UpdateSession& session);

// Creates the Tidewarden delay-marker key when the 10.5.0 product key exists.
void writeDelayMarker(UpdateSession& session);
