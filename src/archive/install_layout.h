// Where a run lays out the installation under its extraction root, and the side files a
// trailer can carry: the one table that the stub, the packer and the packer's checks read.
//
//   %TEMP%\KOVxxxxx\                 the extraction root: "KOV", 1 to 5 hex digits, "\"
//   %TEMP%\KOVxxxxx\Disk1\           the disk directory; the archive's entries create it
//   %TEMP%\KOVxxxxx\Disk1\Setup.exe  the installer the stub starts
//   %TEMP%\KOVxxxxx\Disk1\KOVadmin.dat, KOVclient.dat, KOVnet.dat, setup.ini
//                                    the side files, written after the entries
//
// Plain definitions only: the stub expands what it needs (the file names) and links nothing
// else of the table; the packer also takes each slot's option and JSON key from here.
#pragma once

#include <stddef.h>

#define KOVSEA_DISK_DIRECTORY "Disk1"

// The disk directory's name, and the same with the separator that joins it to the root.
constexpr char kDiskDirectory[] = KOVSEA_DISK_DIRECTORY;
constexpr char kDiskDirectoryPath[] = KOVSEA_DISK_DIRECTORY "\\";
// The installer the stub starts from the disk directory.
constexpr char kSetupProgram[] = "Setup.exe";

// The side-file slots, in the order the trailer holds them and the stub writes them:
//   X(trailer field, file name in the disk directory, the packer's option, JSON key)
#define KOVSEA_SIDE_FILES(X)                          \
  X(admin, "KOVadmin.dat", "--admin", "admin")        \
  X(client, "KOVclient.dat", "--client", "client")    \
  X(net, "KOVnet.dat", "--net", "net")                \
  X(setup, "setup.ini", "--setup-ini", "setup")

#define KOVSEA_COUNT_SIDE_FILE(field, file, option, key) +1
constexpr int kSideFileCount = 0 KOVSEA_SIDE_FILES(KOVSEA_COUNT_SIDE_FILE);
#undef KOVSEA_COUNT_SIDE_FILE

// The extraction root's name under the temporary directory: the prefix, up to five hex
// digits and a backslash.
constexpr char kRootPrefix[] = "KOV";
constexpr int kRootSuffixDigits = 5;
constexpr size_t kRootAddedCharacters = sizeof kRootPrefix - 1 + kRootSuffixDigits + 1;
