// Paths inside the staging folder of one install: the folder is resolved once and each
// subfolder is created once, instead of once per file.
#pragma once

#include <string>
#include <unordered_set>

// A staging folder in its one full spelling, and the subfolders made below it so far
// (folded to lower case A-Z). Only MakeStagingTree fills one.
struct StagingTree {
  std::wstring root;
  std::unordered_set<std::wstring> madeFolders;
};

// False when the folder has no valid full spelling.
bool MakeStagingTree(const std::wstring& stagingFolder, StagingTree& tree);
// The full path of a packaged file inside the tree, its folders made. False for a path
// that is not a valid relative path, or whose folder is taken by a file or a link.
bool PlaceInStaging(StagingTree& tree, const std::wstring& relativePath, std::wstring& target);
