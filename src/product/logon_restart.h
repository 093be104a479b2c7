#pragma once
// The product's logon library on Windows XP, and the restart question.
struct UpdateSession;

// On Windows XP, unless only the product's remote part is installed: takes the
// product's logon library out of the system's "GinaDLL" (putting back the one
// the product recorded, when it can be found), and has Vedede.dll deleted at
// the next start. Another vendor's library in "GinaDLL" stays as it is.
// 1 when the step ran, 0 when it did not apply.
int removeLogonComponent(UpdateSession& session);

// Asks whether to restart now, owned by the progress dialog; Yes restarts. Always 1.
int offerRestart(UpdateSession& session);

// ExitWindowsEx with EWX_REBOOT, as the 9x family allows without a privilege.
// 1 when requested.
int restartPlain();

// Enables the shutdown privilege, then a forced reboot. 1 when requested.
int restartWithPrivilege();
