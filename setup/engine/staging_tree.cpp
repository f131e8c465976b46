#include "setup/engine/staging_tree.h"

#include <windows.h>

#include "setup/core/long_path.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"

namespace {

// A folder this install just created cannot be a link; one that was already there
// (made by someone else in between) must be a plain folder.
bool MakeFolder(const std::wstring& path) {
  if (CreateDirectoryW(LongPath(path).c_str(), nullptr)) return true;
  if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  const DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool MakeStagingTree(const std::wstring& stagingFolder, StagingTree& tree) {
  try {
    tree.root = NormalizeFolderPath(stagingFolder);
  } catch (...) {
    tree.root.clear();
  }
  tree.madeFolders.clear();
  return !tree.root.empty();
}

bool PlaceInStaging(StagingTree& tree, const std::wstring& relativePath, std::wstring& target) {
  // A valid relative path has no "." or ".." segment, no empty one and no drive: joined
  // to the full root it is already the full path.
  if (tree.root.empty() || !IsValidRelativePath(relativePath)) return false;
  try {
    std::wstring path = tree.root + L'\\';
    const size_t relativeStart = path.size();
    for (wchar_t c : relativePath) path += c == L'/' ? L'\\' : c;
    std::wstring folded;
    for (size_t at = relativeStart; at < path.size(); ++at) {
      if (path[at] != L'\\') {
        folded += FoldAscii(path[at]);
        continue;
      }
      if (tree.madeFolders.count(folded) == 0) {
        if (!MakeFolder(path.substr(0, at))) return false;
        tree.madeFolders.insert(folded);
      }
      folded += L'\\';
    }
    target.swap(path);
    return true;
  } catch (...) {
    return false;
  }
}
