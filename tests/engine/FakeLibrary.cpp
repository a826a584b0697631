// A library named like the extraction library but without its entry point (copied as
// UNZIP32.DLL by the binding's tests).
extern "C" __declspec(dllexport) int KestrovaNotTheEntryPoint()
{
    return 0;
}
