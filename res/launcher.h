#pragma once
// The launcher's own string table: it shares nothing with the update program.
#define IDS_LAUNCH_CAPTION           1
#define IDS_LAUNCH_COMPLETE          2
#define IDS_LAUNCH_BUSY              3
#define IDS_LAUNCH_INCOMPLETE        4
#define IDS_LAUNCH_NOT_STARTED       5
#define IDS_LAUNCH_REFUSED           6
