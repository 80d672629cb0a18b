// The trial's Wine prefix: a private, throwaway 32-bit prefix copied from a clean template
// that is made once with wineboot and kept in the user's cache directory
// ($XDG_CACHE_HOME/kovsea, else ~/.cache/kovsea), one per Wine version. The user's own
// ~/.wine is never used.
//
// A trial's prefix is a whole copy of the template, so that nothing a run writes reaches it;
// the trial's sandbox does not show the template to the programs it runs.
//
// The template's folders that Wine links to the user's home (Desktop, Documents, ...) are
// made plain folders, so that what an installer puts there stays in the prefix, and Wine's
// desktop integration (menu entries, file associations) is switched off for every run.
#pragma once

#include <stdint.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "problem.h"

namespace trial {

// The variables every Wine program of a trial runs with: the prefix, no debug output, no
// Mono or Gecko install prompts, no menu entries in the user's desktop.
std::vector<std::string> WineVariables(const std::filesystem::path& prefix);

class WineTemplate {
 public:
  WineTemplate() = default;
  // A template made earlier, at `existing`.
  explicit WineTemplate(std::filesystem::path existing) : path_(std::move(existing)) {}
  // The template for the installed Wine, made first when there is none (`made` says so);
  // `progress` is called with a line to show while it is being made.
  bool Prepare(void (*progress)(const std::string&), Problems* problems);
  const std::filesystem::path& path() const { return path_; }
  bool made() const { return made_; }
  const std::string& wine_version() const { return wine_version_; }

 private:
  std::filesystem::path path_;
  bool made_ = false;
  std::string wine_version_;
};

class WinePrefix {
 public:
  // Copies the template to `where` (which must not exist or be empty).
  bool CreateFrom(const WineTemplate& wine_template, const std::filesystem::path& where, Problems* problems);
  // Ends every process of the prefix (its Wine server and what it serves).
  void EndSession() const;
  void Remove() const;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// $XDG_CACHE_HOME/kovsea, else ~/.cache/kovsea.
std::filesystem::path CacheDirectory();

}  // namespace trial
