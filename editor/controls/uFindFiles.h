// FindFiles: the visible sub-folders of a folder, for the skin list.
#pragma once

#include <string>

#include "classlib/Classes.h"

// Adds to `names` the name of every entry of `folder` (which ends with a path delimiter) that is
// a folder and not hidden, except "." and ".."; adds nothing when the search finds nothing.
void FindFiles(const std::string& folder, TStrings& names);
