/* The stub's messages: one table, expanded by the resource script into the string table and
   by the code into identifiers (and, on platforms without a string table, into the texts).
   Plain preprocessor definitions only: windres reads this file too.

   X(name, string-table id, text) */
#ifndef KOVSEA_MESSAGES_H
#define KOVSEA_MESSAGES_H

#define KOVSEA_MESSAGES(X)                                                   \
  X(IDS_ERR_CREATE_FILE, 5079, "Cannot create the current file.")            \
  X(IDS_ERR_START_EXE, 5080, "Cannot start the executable.")                 \
  X(IDS_ERR_CREATE_ADMIN, 5081, "Cannot create admin file.")                 \
  X(IDS_ERROR_TITLE, 5082, "KOV Error")                                      \
  X(IDS_ERR_NOT_SEA, 5084, "This is not a valid KOV SEA file!")              \
  X(IDS_ERR_TEMP_DIR, 5086, "Could not get temp directory location.")

#ifdef __cplusplus
enum MessageId {
#define KOVSEA_MESSAGE_ID(name, id, text) name = id,
  KOVSEA_MESSAGES(KOVSEA_MESSAGE_ID)
#undef KOVSEA_MESSAGE_ID
};

// The text of message `id` as the string table holds it; null for an unknown id.
inline const char* MessageText(int id) {
  switch (id) {
#define KOVSEA_MESSAGE_CASE(name, id, text) \
  case id:                                  \
    return text;
    KOVSEA_MESSAGES(KOVSEA_MESSAGE_CASE)
#undef KOVSEA_MESSAGE_CASE
  }
  return nullptr;
}
#endif

#endif
