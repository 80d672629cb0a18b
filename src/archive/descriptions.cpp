// What the format's problem enums mean, in words for people. Kept apart from the code that
// decides them: the stub never shows these texts, and a program that does not call them
// links none of them.
#include "archive_format.h"
#include "entry_decoder.h"

const char* DescribeTrailerProblem(TrailerProblem problem) {
  switch (problem) {
    case TrailerProblem::kNone: return "valid";
    case TrailerProblem::kBadMagic: return "trailer magic is not \"KOVSEA\"";
    case TrailerProblem::kEmptyArchive: return "archive size is 0";
    case TrailerProblem::kArchiveOutsideFile: return "entry stream lies outside the file";
    case TrailerProblem::kSlotOutsideFile: return "side file lies outside the file";
    case TrailerProblem::kSlotInsideArchive: return "side file overlaps the stub or the entry stream";
    case TrailerProblem::kSlotsOverlap: return "side file overlaps another side file";
  }
  return "unknown";
}

const char* DescribeNameProblem(NameProblem problem) {
  switch (problem) {
    case NameProblem::kNone: return "valid";
    case NameProblem::kEmpty: return "empty name";
    case NameProblem::kTooLong: return "name longer than 263 characters";
    case NameProblem::kAbsolute: return "name is absolute (leading backslash or drive)";
    case NameProblem::kForbiddenCharacter: return "name contains a character Windows forbids";
    case NameProblem::kEmptyComponent: return "name has an empty component";
    case NameProblem::kDotComponent: return "name has a \".\" or \"..\" component";
    case NameProblem::kTrailingDotOrSpace: return "name component ends in a dot or a space";
    case NameProblem::kReservedName: return "name component is a reserved device name";
  }
  return "unknown";
}

const char* DescribeEntryFailure(EntryFailure failure) {
  switch (failure) {
    case EntryFailure::kNone: return "was extracted";
    case EntryFailure::kBadName: return "has a name Windows refuses";
    case EntryFailure::kNameTooLong: return "has a name longer than 263 characters";
    case EntryFailure::kPathTooLong: return "makes a path longer than 259 characters";
    case EntryFailure::kNoMemory: return "could not be held in memory";
    case EntryFailure::kCannotCreate: return "could not be created";
    case EntryFailure::kCannotWrite: return "could not be written whole (is the disk full?)";
    case EntryFailure::kArchiveUnreadable: return "could not be read from the self-extractor";
  }
  return "unknown";
}
