#include <windows.h>

#include "app/ExtractorApp.h"
#include "app/ProcessObjects.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return app::TheApp().Run(instance);
}
