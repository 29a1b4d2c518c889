// The cautions dialog: what the session could not decide alone.
#pragma once

#include <windows.h>

void ShowCautions(HWND hwndOwner);
