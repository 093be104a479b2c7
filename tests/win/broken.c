/* A system-folder library whose own import cannot be satisfied. */
__declspec(dllimport) int absentFunction(void);

__declspec(dllexport) int brokenEntry(void)
{
    return absentFunction();
}
