#include <windows.h>

#include "updater/UpdaterApp.h"

updater::UpdaterApp g_app;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return g_app.Run(instance);
}
