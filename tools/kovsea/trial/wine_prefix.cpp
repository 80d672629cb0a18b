#include "wine_prefix.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <system_error>

namespace fs = std::filesystem;

namespace trial {
namespace {

constexpr int kWinebootTimeoutMs = 300000;
constexpr char kTemplatePrefix[] = "wine-prefix-";

// "wine-8.0 (Debian 8.0~repack-4)" as a file name: letters, digits, dots and dashes.
std::string FileNameOf(const std::string& version) {
  std::string out;
  for (char c : version) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.';
    if (plain) {
      out += c;
    } else if (!out.empty() && out.back() != '-') {
      out += '-';
    }
  }
  while (!out.empty() && out.back() == '-') out.pop_back();
  return out.empty() ? "unknown" : out;
}

// Replaces every link under the users' folders that leads out of the prefix (Wine links
// Desktop, Documents and the like to the user's home) with an empty folder.
void UnlinkHomeFolders(const fs::path& prefix) {
  std::error_code error;
  std::vector<fs::path> links;
  for (auto it = fs::recursive_directory_iterator(prefix / "drive_c" / "users", error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_symlink(error)) links.push_back(it->path());
  }
  for (const fs::path& link : links) {
    fs::remove(link, error);
    fs::create_directory(link, error);
  }
}

}  // namespace

std::vector<std::string> WineVariables(const fs::path& prefix) {
  return {"WINEPREFIX=" + prefix.string(), "WINEDEBUG=-all", "WINEARCH=win32",
          "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d"};
}

fs::path CacheDirectory() {
  const char* cache = getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return fs::path(cache) / "kovsea";
  const char* home = getenv("HOME");
  return fs::path(home != nullptr && home[0] != '\0' ? home : "/tmp") / ".cache" / "kovsea";
}

bool WineTemplate::Prepare(void (*progress)(const std::string&), Problems* problems) {
  std::string version;
  if (RunProgram({"wine", "--version"}, EnvironmentWith({}), 60000, &version) != 0) {
    problems->push_back({"wine", std::nullopt, "`wine --version` failed", "check the Wine installation (wine32:i386)"});
    return false;
  }
  while (!version.empty() && (version.back() == '\n' || version.back() == '\r')) version.pop_back();
  wine_version_ = version;
  const fs::path cache = CacheDirectory();
  path_ = cache / (kTemplatePrefix + FileNameOf(version));
  std::error_code error;
  if (fs::exists(path_ / "system.reg", error)) return true;
  fs::create_directories(cache, error);
  if (error) {
    problems->push_back({cache.string(), std::nullopt, "cannot create the cache directory: " + error.message(), ""});
    return false;
  }
  // One maker at a time; a second kovsea waits and then finds the template made.
  const int lock = open((cache / "wine-prefix.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock >= 0) flock(lock, LOCK_EX);
  bool ok = fs::exists(path_ / "system.reg", error);
  if (!ok) {
    progress("making the Wine template in " + path_.string() + " (once for this Wine version)");
    const fs::path making = cache / (".making-" + std::to_string(getpid()));
    fs::remove_all(making, error);
    const Environment environment = EnvironmentWith(WineVariables(making), {"DISPLAY", "WAYLAND_DISPLAY"});
    const int status = RunProgram({"wineboot", "--init"}, environment, kWinebootTimeoutMs);
    RunProgram({"wineserver", "--wait"}, environment, kWinebootTimeoutMs);
    ok = status == 0 && fs::exists(making / "system.reg", error);
    if (ok) {
      UnlinkHomeFolders(making);
      fs::remove(making / "wineserver", error);
      // Templates of other Wine versions are of no further use.
      std::vector<fs::path> stale;
      for (const auto& entry : fs::directory_iterator(cache, error)) {
        if (entry.path().filename().string().rfind(kTemplatePrefix, 0) == 0) stale.push_back(entry.path());
      }
      for (const fs::path& old : stale) fs::remove_all(old, error);
      fs::rename(making, path_, error);
      ok = !error;
      made_ = ok;
    }
    if (!ok) {
      fs::remove_all(making, error);
      problems->push_back({path_.string(), std::nullopt, "wineboot could not make the Wine template",
                           "run `WINEPREFIX=/tmp/test wineboot --init` to see why"});
    }
  }
  if (lock >= 0) close(lock);
  return ok;
}

bool WinePrefix::CreateFrom(const WineTemplate& wine_template, const fs::path& where, Problems* problems) {
  path_ = where;
  std::error_code error;
  fs::create_directories(where, error);
  const fs::path& from = wine_template.path();
  // A copy of every file, never a link to the template's: nothing a run writes in place can
  // reach the template, and a kept prefix is the user's own.
  for (auto it = fs::recursive_directory_iterator(from, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::path relative = it->path().lexically_relative(from);
    const fs::path target = where / relative;
    std::error_code step;
    if (it->is_symlink(step)) {
      fs::copy_symlink(it->path(), target, step);
    } else if (it->is_directory(step)) {
      fs::create_directory(target, step);
    } else if (relative.filename() != "wineserver") {
      fs::copy_file(it->path(), target, step);
    }
    if (step) {
      problems->push_back({target.string(), std::nullopt, "cannot copy the Wine template: " + step.message(), ""});
      return false;
    }
  }
  if (error) {
    problems->push_back({from.string(), std::nullopt, "cannot read the Wine template: " + error.message(), ""});
    return false;
  }
  return true;
}

void WinePrefix::EndSession() const {
  const Environment environment = EnvironmentWith(WineVariables(path_));
  RunProgram({"wineserver", "--kill"}, environment, 30000);
  RunProgram({"wineserver", "--wait"}, environment, 30000);
}

void WinePrefix::Remove() const {
  std::error_code error;
  fs::remove_all(path_, error);
}

}  // namespace trial
