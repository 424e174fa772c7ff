#pragma once
#include <windows.h>

class CIconComboBox;

// "Examinar...": an open-file dialog for a profile, starting in the folder of
// the box's selected path; the chosen path is selected in the box (inserted at
// the head when the box does not hold it yet). False when the user cancelled.
bool BrowseForProfile(HWND hOwner, CIconComboBox& box);
