// Files and folders by path, for the programs that install the export script and for the
// plug-in's look for it: wide paths as std::filesystem paths, and whether a file may be rewritten.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace halcyra::platform {

// A wide path (as Env gives the Saved Games folder) as a filesystem path, and back.
std::filesystem::path PathFromWide(const std::wstring& path);
std::wstring WideFromPath(const std::filesystem::path& path);

// A path as UTF-8 text for messages.
std::string PathText(const std::filesystem::path& path);

// True when the existing file can be rewritten now: it is not marked read-only and it opens for
// writing in place (on Windows a file that another program holds open without sharing does not).
// Otherwise false with the reason ("read-only", or the system's message).
bool CanRewriteFile(const std::filesystem::path& file, std::string* reason);

// Makes the folder and every missing folder above it. True when it exists afterwards; otherwise
// false with the system's reason.
[[nodiscard]] bool MakeFolders(const std::filesystem::path& folder, std::string* reason);
[[nodiscard]] bool FolderExists(const std::filesystem::path& folder);

enum class NewFileResult {
  kWritten,  // the file did not exist and now holds the content
  kExists,   // a file of that name exists: it is left as it is
  kFailed,   // it could not be written (reason says why); nothing is left behind
};
// Writes content into a new file; never replaces or changes a file that exists, even one that
// appears meanwhile.
[[nodiscard]] NewFileResult WriteNewFile(const std::filesystem::path& file, const std::string& content,
                                         std::string* reason);
// How many files of the folder have names ending in suffix, ASCII letters of either case
// ("N42E041.hgt" and "N42E041.HGT" both end in ".hgt"); nothing when the folder cannot be read.
std::optional<size_t> CountFilesEndingWith(const std::filesystem::path& folder, const std::string& suffix);

// Replaces the file's content by content, or makes the file: the new content is written beside it
// and then takes the file's place, so the file is never left half written. False with the system's
// reason when that fails (the file is then as it was).
[[nodiscard]] bool ReplaceFileContent(const std::filesystem::path& file, const std::string& content,
                                      std::string* reason);

}  // namespace halcyra::platform
