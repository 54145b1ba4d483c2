// Resource names that code uses. Control ids stay plain numbers in the templates: the dialog
// logic and the .ui files know them by number.
#pragma once

#define IDI_TILLWRIGHT 1

// Labels and group boxes that no code reaches.
#define IDC_STATIC (-1)
