/* Names a program that links the real libraries at load time imports, so that
 * the planted copy satisfies its import table and is really loaded. Never
 * called. */
__declspec(dllexport) void FCICreate(void) {}
__declspec(dllexport) void MsiOpenDatabaseA(void) {}
__declspec(dllexport) void InitCommonControls(void) {}
__declspec(dllexport) void GetFileVersionInfoSizeA(void) {}
