/* Resource identifiers and message texts, shared by the resource script and the code.
   Plain preprocessor definitions only: windres reads this file too. */
#ifndef KOVSEA_RESOURCE_IDS_H
#define KOVSEA_RESOURCE_IDS_H

#define IDS_ERR_CREATE_FILE 5079
#define IDS_ERR_START_EXE 5080
#define IDS_ERR_CREATE_ADMIN 5081
#define IDS_ERROR_TITLE 5082
#define IDS_ERR_NOT_SEA 5084
#define IDS_ERR_TEMP_DIR 5086

#define TEXT_ERR_CREATE_FILE "Cannot create the current file."
#define TEXT_ERR_START_EXE "Cannot start the executable."
#define TEXT_ERR_CREATE_ADMIN "Cannot create admin file."
#define TEXT_ERROR_TITLE "KOV Error"
#define TEXT_ERR_NOT_SEA "This is not a valid KOV SEA file!"
#define TEXT_ERR_TEMP_DIR "Could not get temp directory location."

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

#endif
