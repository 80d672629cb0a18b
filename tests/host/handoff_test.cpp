#include "handoff.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string.h>

#include "messages.h"
#include "resource_ids.h"
#include "fake_platform.h"
#include "restart.h"
#include "stream_builder.h"

namespace {

constexpr char kRoot[] = "C:\\Temp\\KOV1a2b3\\";
constexpr char kDisk[] = "C:\\Temp\\KOV1a2b3\\Disk1\\";
void* const kDialog = reinterpret_cast<void*>(0xD1A1);

// A state as the worker leaves it after extracting a small installer tree.
class HandOff : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    memset(&state, 0, sizeof state);
    memset(&trailer, 0, sizeof trailer);
    strcpy(state.extraction_root, kRoot);
    state.dialog_window = kDialog;
    state.trailer = &trailer;
    Make(kRoot, true);
    Make(std::string(kRoot) + "Disk1", true);
    Make(std::string(kDisk) + "Setup.exe", false, "MZ");
    Make(std::string(kDisk) + "SETUP.INI", false, "[extracted]");
    archive_bytes = "....ADMIN....CLIENT|NET|INI-FROM-SLOT";
    fake::PutFile("C:\\Downloads\\sea.exe", archive_bytes);
    archive = platform::OpenForReading("C:\\Downloads\\sea.exe");
    state.archive_file = archive;
    fake::world().events.clear();
  }

  void Make(const std::string& path, bool directory, const std::string& bytes = "") {
    if (directory) {
      fake::PutDirectory(path);
    } else {
      fake::PutFile(path, bytes);
    }
    PushCleanup(&state.cleanup_list, path.c_str(),
                directory ? CleanupKind::kDirectory : CleanupKind::kFile);
  }

  ExtractionState state;
  ArchiveTrailer trailer;
  std::string archive_bytes;
  platform::File* archive = nullptr;
};

TEST_F(HandOff, CompleteRunWritesSideFilesStartsSetupWaitsAndDeletesNewestFirst) {
  trailer.admin = {4, 5};    // "ADMIN"
  trailer.client = {13, 6};  // "CLIENT"
  trailer.net = {20, 3};     // "NET"
  trailer.setup = {24, 13};  // "INI-FROM-SLOT"
  std::map<std::string, std::string> seen_by_setup;
  fake::world().on_program_run = [&](const std::string&) {
    for (const char* name : {"KOVadmin.dat", "KOVclient.dat", "KOVnet.dat", "setup.ini"}) {
      seen_by_setup[name] = fake::FileBytes(std::string(kDisk) + name);
    }
  };
  fake::world().windows["InstallShield_Win"] = {4242};
  fake::world().windows["isdelete"] = {4343};

  HandOffToInstaller(archive, &state);

  EXPECT_EQ(seen_by_setup["KOVadmin.dat"], "ADMIN");
  EXPECT_EQ(seen_by_setup["KOVclient.dat"], "CLIENT");
  EXPECT_EQ(seen_by_setup["KOVnet.dat"], "NET");
  EXPECT_EQ(seen_by_setup["setup.ini"], "INI-FROM-SLOT") << "the side file replaces SETUP.INI";
  EXPECT_EQ(fake::world().started_programs, (std::vector<std::string>{std::string(kDisk) + "Setup.exe"}));
  EXPECT_EQ(fake::world().waited_processes, (std::vector<uint32_t>{1000, 4242, 4343}));
  EXPECT_EQ(state.cleanup_list.head, nullptr);
  EXPECT_EQ(state.archive_file, nullptr);
  EXPECT_FALSE(fake::Exists(kRoot));
  EXPECT_TRUE(fake::world().boxes.empty());
  EXPECT_EQ(fake::world().live_allocations, 0);

  // The order of the steps.
  const auto& ev = fake::world().events;
  std::vector<std::string> expected_prefixes = {
      "set Reboot 0", "hide", "create C:\\Temp\\KOV1a2b3\\Disk1\\KOVadmin.dat",
      "close", "create C:\\Temp\\KOV1a2b3\\Disk1\\KOVclient.dat", "close",
      "create C:\\Temp\\KOV1a2b3\\Disk1\\KOVnet.dat", "close",
      "create C:\\Temp\\KOV1a2b3\\Disk1\\setup.ini", "close",
      "close C:\\DOWNLOADS\\SEA.EXE", "start C:\\Temp\\KOV1a2b3\\Disk1\\Setup.exe", "wait 1000",
      "find InstallShield_Win", "wait 4242", "find isdelete", "wait 4343",
      "find InstallShield_Win", "find isdelete",
      "delete C:\\Temp\\KOV1a2b3\\Disk1\\setup.ini", "delete C:\\Temp\\KOV1a2b3\\Disk1\\KOVnet.dat",
      "delete C:\\Temp\\KOV1a2b3\\Disk1\\KOVclient.dat", "delete C:\\Temp\\KOV1a2b3\\Disk1\\KOVadmin.dat",
      "delete C:\\Temp\\KOV1a2b3\\Disk1\\SETUP.INI", "delete C:\\Temp\\KOV1a2b3\\Disk1\\Setup.exe",
      "rmdir C:\\Temp\\KOV1a2b3\\Disk1", "rmdir C:\\Temp\\KOV1a2b3\\"};
  ASSERT_EQ(ev.size(), expected_prefixes.size()) << ::testing::PrintToString(ev);
  for (size_t i = 0; i < ev.size(); ++i) {
    EXPECT_EQ(ev[i].compare(0, expected_prefixes[i].size(), expected_prefixes[i]), 0)
        << i << ": " << ev[i];
  }
}

TEST_F(HandOff, ErrorFlagOnlyResetsTheRequestAndDeletes) {
  state.error_flag = 1;
  trailer.admin = {4, 5};
  const bool request_reset = HandOffToInstaller(archive, &state);
  EXPECT_TRUE(fake::world().hidden_windows.empty());
  EXPECT_TRUE(fake::world().started_programs.empty());
  EXPECT_EQ(fake::EventIndex("find"), -1);
  EXPECT_TRUE(fake::world().boxes.empty());
  EXPECT_FALSE(fake::Exists(std::string(kDisk) + "KOVadmin.dat"));
  EXPECT_FALSE(fake::Exists(kRoot));
  EXPECT_EQ(fake::world().events.front(), "set Reboot 0");
  EXPECT_TRUE(request_reset);
  EXPECT_EQ(state.archive_file, archive) << "the worker closes it";
  platform::CloseFile(archive);
}

TEST_F(HandOff, SlotsAbsentEmptyAndBeyondTheFile) {
  trailer.admin = {0, 99};                 // offset 0: absent, size ignored
  trailer.client = {4, 0};                 // empty file
  trailer.net = {30, 20};                  // runs past the end of the file: zeros
  HandOffToInstaller(archive, &state);
  EXPECT_EQ(std::count_if(fake::world().events.begin(), fake::world().events.end(),
                          [](const std::string& e) { return e.find("KOVadmin") != std::string::npos; }),
            0);
  ASSERT_GE(fake::EventIndex("create C:\\Temp\\KOV1a2b3\\Disk1\\KOVclient.dat"), 0);
  EXPECT_EQ(fake::world().started_programs.size(), 1u);
}

TEST_F(HandOff, SideFileBytesBeyondTheFileAreZero) {
  fake::world().on_program_run = [](const std::string&) {
    EXPECT_EQ(fake::FileBytes(std::string(kDisk) + "KOVnet.dat"),
              std::string("SLOT") + std::string(16, '\0'));
  };
  trailer.net = {static_cast<uint32_t>(archive_bytes.size() - 4), 20};
  HandOffToInstaller(archive, &state);
  EXPECT_EQ(fake::world().waited_processes.size(), 1u);
}

TEST_F(HandOff, UncreatableOrShortSideFileIsReportedAndTheRestGoesOn) {
  trailer.admin = {4, 5};
  trailer.client = {13, 6};
  trailer.net = {20, 3};
  fake::world().fail_create.insert(fake::Upper(std::string(kDisk) + "KOVadmin.dat"));
  // KOVclient.dat's writes are all accepted, but its close finds the disk full.
  fake::world().fail_close.insert(fake::Upper(std::string(kDisk) + "KOVclient.dat"));
  std::vector<std::string> present;
  fake::world().on_program_run = [&](const std::string&) {
    for (const char* name : {"KOVadmin.dat", "KOVclient.dat", "KOVnet.dat"}) {
      if (fake::Exists(std::string(kDisk) + name)) present.push_back(name);
    }
  };
  HandOffToInstaller(archive, &state);
  ASSERT_EQ(fake::world().boxes.size(), 2u);
  for (const auto& box : fake::world().boxes) {
    EXPECT_EQ(box.text, "Cannot create admin file.");
    EXPECT_EQ(box.owner, kDialog);
  }
  EXPECT_EQ(fake::world().boxes[0].caption, std::string(kDisk) + "KOVadmin.dat");
  EXPECT_EQ(fake::world().boxes[1].caption, std::string(kDisk) + "KOVclient.dat");
  EXPECT_EQ(present, (std::vector<std::string>{"KOVnet.dat"}))
      << "the installer runs, but never sees a side file cut short";
  EXPECT_EQ(fake::world().started_programs.size(), 1u);
}

TEST_F(HandOff, MissingSetupShowsTheQuotedCommandLineAndStillWaitsAndDeletes) {
  fake::world().files.erase(fake::Upper(std::string(kDisk) + "Setup.exe"));
  fake::world().windows["isdelete"] = {77};
  HandOffToInstaller(archive, &state);
  ASSERT_EQ(fake::world().boxes.size(), 1u);
  EXPECT_EQ(fake::world().boxes[0].text, MessageText(IDS_ERR_START_EXE));
  EXPECT_EQ(fake::world().boxes[0].caption, std::string("\"") + kDisk + "Setup.exe\"");
  EXPECT_EQ(fake::world().waited_processes, (std::vector<uint32_t>{77}));
  EXPECT_FALSE(fake::Exists(kRoot));
}

TEST(WaitForInstallerWindowsTest, EachPassTakesOneWindowPerClassUntilAPassFindsNone) {
  fake::Reset();
  fake::world().windows["InstallShield_Win"] = {1, 2};
  fake::world().windows["isdelete"] = {3};
  WaitForInstallerWindows();
  EXPECT_EQ(fake::world().waited_processes, (std::vector<uint32_t>{1, 3, 2}));
  EXPECT_EQ(std::count(fake::world().events.begin(), fake::world().events.end(),
                       "find InstallShield_Win"),
            3);
  EXPECT_TRUE(fake::world().pauses.empty()) << "passes after a wait follow at once";
}

TEST(WaitForInstallerWindowsTest, OnlyProcessesStartedSinceTheInstallerHoldTheRun) {
  // Another program's engine window, open since before the run, holds nothing.
  fake::Reset();
  fake::world().process_started = {{50, 5}, {60, 20}};
  fake::world().windows["InstallShield_Win"] = {50, 60, 50};
  WaitForInstallerWindows(10);
  EXPECT_EQ(fake::world().waited_processes, (std::vector<uint32_t>{60}));
}

TEST(WaitForInstallerWindowsTest, UnopenableProcessPausesBetweenPassesInsteadOfSpinning) {
  fake::Reset();
  fake::world().windows["InstallShield_Win"] = {9, 9, 9};
  fake::world().unopenable_processes = {9};
  WaitForInstallerWindows();
  EXPECT_EQ(fake::world().pauses, (std::vector<uint32_t>{100, 100, 100}));
  EXPECT_TRUE(fake::world().waited_processes.empty());
}

TEST_F(HandOff, ASideFileLargerThanTheStubCanAllocateIsCopiedInPieces) {
  const std::string big = test::Pattern(3 << 20);
  fake::world().largest_allocation = 1 << 20;
  fake::PutFile("C:\\Temp\\own.exe", std::string(100, 'M') + big);
  platform::File* archive = platform::OpenForReading("C:\\Temp\\own.exe");
  CleanupList list = {nullptr};
  EXPECT_TRUE(WriteSideFile(nullptr, archive, "C:\\Temp\\", &list, "KOVnet.dat", 100, static_cast<uint32_t>(big.size())));
  EXPECT_EQ(fake::FileBytes("C:\\Temp\\KOVnet.dat"), big);
  EXPECT_TRUE(fake::world().boxes.empty());
  platform::CloseFile(archive);
  DeleteCleanupList(&list);
}

TEST(DeleteCleanupListTest, DeletesNewestFirstAndLeavesWhatIsInUseToTheNextStart) {
  fake::Reset();
  CleanupList list = {nullptr};
  fake::PutDirectory("C:\\Temp\\R");
  fake::PutFile("C:\\Temp\\R\\kept-by-installer", "x");
  fake::PutFile("C:\\Temp\\R\\held", "x");
  fake::PutFile("C:\\Temp\\R\\plain", "x");
  fake::world().held_open = {"C:\\TEMP\\R\\HELD"};
  for (const char* path : {"C:\\Temp\\R", "C:\\Temp\\R\\held", "C:\\Temp\\R\\gone-already", "C:\\Temp\\R\\plain"}) {
    PushCleanup(&list, path, std::string(path) == "C:\\Temp\\R" ? CleanupKind::kDirectory : CleanupKind::kFile);
  }
  fake::world().events.clear();
  DeleteCleanupList(&list);
  EXPECT_EQ(list.head, nullptr);
  const auto& events = fake::world().events;
  ASSERT_GE(events.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 4),
            (std::vector<std::string>{"delete C:\\Temp\\R\\plain", "delete C:\\Temp\\R\\gone-already",
                                      "delete C:\\Temp\\R\\held", "rmdir C:\\Temp\\R"}));
  EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()),
            (std::vector<std::string>{"delete at restart C:\\Temp\\R\\held", "delete at restart C:\\Temp\\R"}))
      << "what is gone needs no request; the directory follows its file";
  EXPECT_EQ(fake::world().pauses.size(), static_cast<size_t>(kHeldRetryPasses - 1)) << "tried again for a while";
  EXPECT_EQ(std::count(events.begin(), events.end(), "delete C:\\Temp\\R\\gone-already"), 1)
      << "what is gone is not tried again";
  EXPECT_TRUE(fake::IsDirectory("C:\\Temp\\R")) << "a directory the installer wrote into stays";
  EXPECT_EQ(fake::world().live_allocations, 0);
}

TEST(DeleteCleanupListTest, EachNodeTakesItsPathAndASmallHeaderOnly) {
  // A run keeps a node for every path it creates until its end: 100,000 files, 100,000 nodes.
  const std::string longest = "C:\\" + std::string(kMaxPathLength - 3, 'p');
  for (const std::string& path : {std::string("C:\\Temp\\R\\a"), longest, longest + "p"}) {
    fake::Reset();
    fake::world().largest_allocation = static_cast<int64_t>(16 + path.size() + 1);
    CleanupList list = {nullptr};
    EXPECT_EQ(PushCleanup(&list, path.c_str(), CleanupKind::kFile), path.size() <= kMaxPathLength);
    if (CleanupNode* node = PopCleanup(&list)) {
      EXPECT_EQ(std::string(node->path), path);
      DiscardCleanupNode(node);
    }
  }
}

TEST(DeleteCleanupListTest, WhatIsHeldForAMomentIsDeletedOnceItIsLetGo) {
  // A crashed installer's image is held by the crash handler for about a second.
  fake::Reset();
  CleanupList list = {nullptr};
  fake::PutDirectory("C:\\Temp\\R");
  fake::PutFile("C:\\Temp\\R\\Setup.exe", "MZ");
  fake::world().held_open = {"C:\\TEMP\\R\\SETUP.EXE"};
  fake::world().on_pause = [](int pauses) {
    if (pauses == 10) fake::world().held_open.clear();
  };
  PushCleanup(&list, "C:\\Temp\\R", CleanupKind::kDirectory);
  PushCleanup(&list, "C:\\Temp\\R\\Setup.exe", CleanupKind::kFile);
  DeleteCleanupList(&list);
  EXPECT_FALSE(fake::IsDirectory("C:\\Temp\\R"));
  EXPECT_EQ(fake::EventIndex("delete at restart C:\\Temp\\R\\Setup.exe"), -1);
  EXPECT_EQ(fake::world().pauses.size(), 10u);
  EXPECT_EQ(fake::world().live_allocations, 0);
}

}  // namespace
