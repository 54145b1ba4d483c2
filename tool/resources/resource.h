// Resource names that code uses. Control ids stay plain numbers in the templates: the dialog
// logic and the .ui files know them by number.
#pragma once

#define IDI_TILLWRIGHT 1

// Labels and group boxes that no code reaches.
#define IDC_STATIC (-1)

// The diagnosis dialog (DIAGNOSIS); its Close button is IDCANCEL.
#define IDC_DIAGNOSIS_REPORT 1310
#define IDC_SAVE_BUNDLE 1311

// The main dialog's window menu entry "Diagnose connection...": a system menu command, so a
// multiple of 16 below 0xF000.
#define IDM_DIAGNOSE_CONNECTION 0x1F10
