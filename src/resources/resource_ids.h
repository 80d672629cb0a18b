/* Identifiers of the stub's dialog, its controls and icons, shared by the resource script
   and the code. Plain preprocessor definitions only: windres reads this file too. */
#ifndef KOVSEA_RESOURCE_IDS_H
#define KOVSEA_RESOURCE_IDS_H

#define IDD_EXTRACT_PROGRESS 1020
#define IDC_PROGRESS 1010
#define IDC_TEXT1 1041
#define IDC_TEXT2 1012
#define IDC_ANIMATION 100
#define IDC_PROMPT 200
#define IDI_PROGRESS_ICON 133
#define IDI_APP_ICON 99

#define PROGRESS_DIALOG_CAPTION "KOV Self-Extracting Archive"
#define PROGRESS_DIALOG_PROMPT \
  "Please wait while KOV extracts the files which will install this application."
#define PROGRESS_DIALOG_CANCEL "&Cancel"

/* The room the dialog gives its texts, in dialog units; the packer measures translations
   against it. */
#define PROGRESS_DIALOG_WIDTH 199
#define PROGRESS_DIALOG_HEIGHT 74
#define PROMPT_WIDTH 150
#define PROMPT_HEIGHT 25
#define CANCEL_WIDTH 50

#endif
